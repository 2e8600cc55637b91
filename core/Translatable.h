// Marks an English text for the translation catalogues without translating
// it: the core knows no catalogue. xgettext collects the texts marked so (its
// keyword DVK_TEXT); the windows translate them where they show them, and
// dravik-cli prints them as they are.
#pragma once

#define DVK_TEXT(text) text
