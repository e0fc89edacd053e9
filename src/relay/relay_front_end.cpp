#include "relay/relay_front_end.h"

#include "country/country.h"
#include "spot/spot.h"

#include <ctime>

std::string CountryFileWarning()
{
    const std::string folder = CountryFileFolder();
    return "Unable to open CTY.DAT\n Filter operation disabled\nLooked for cty.dat in "
        + (folder.empty() ? std::string("the current folder") : folder);
}

std::string ConsoleLine(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        // One message, one line: line breaks inside it become blanks, blanks do not pile up.
        const char shown = (c == '\r' || c == '\n') ? ' ' : c;
        if (shown != ' ' || (!line.empty() && line.back() != ' ')) {
            line += shown;
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return FormatUtc(std::time(nullptr), "%Y-%m-%d %H:%M:%SZ ") + line;
}
