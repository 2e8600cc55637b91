#include "files/FileName.h"

#include <wx/strconv.h>

namespace {

// UTF-8, each byte that is not part of it kept as a character of the
// private use area of its own.
const wxMBConv& Conversion()
{
    static const wxMBConvUTF8 conversion(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA);
    return conversion;
}

}  // namespace

std::string FileNameBytes(const wxString& name)
{
    // Every character converts; an empty result names no file.
    const wxCharBuffer bytes = name.mb_str(Conversion());
    return std::string(bytes.data(), bytes.length());
}

wxString FileNameFromBytes(const std::string& bytes)
{
    return wxString(bytes.data(), Conversion(), bytes.size());
}
