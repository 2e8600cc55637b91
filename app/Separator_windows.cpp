// Windows draws the etched line the toolkit sizes it for.
#include "app/Separator.h"

int SeparatorThickness(wxStaticLine& line)
{
    return line.GetBestSize().y;
}
