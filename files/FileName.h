// A file name as the toolkit's text and as the bytes the system opens
// (FileName_linux.cpp, FileName_windows.cpp). On Linux a name is bytes,
// UTF-8 on every current desktop but not always: bytes that are not UTF-8
// travel through the text as characters of their own, so that the name
// comes back byte for byte and never names another file. On Windows a name
// is UTF-16 text, and its bytes are its UTF-8.
#pragma once

#include <string>

#include <wx/string.h>

// The bytes of the file name, as SafeFile.h takes them.
std::string FileNameBytes(const wxString& name);

// The text of a file name given as bytes (on Linux a command-line argument),
// from which FileNameBytes gives the same bytes back. On Linux it is the
// toolkit's own conversion of file names once the program has set the
// toolkit up (PrepareToolkit), so that a name from a file dialog converts the
// same way.
wxString FileNameFromBytes(const std::string& bytes);
