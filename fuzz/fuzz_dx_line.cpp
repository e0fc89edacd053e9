// What a cluster node or skimmer network sends, and spot fields a page gives, from the outside:
// the telnet source's line reader and DX-line parser, and the node's own spot lines. Whatever the
// bytes, a parsed spot's cluster line holds no control character and no invalid UTF-8, and the
// node's lines hold none either, with the time's "Z" at column 74, counted in characters.
//
// Input: the bytes a node sends (read as the telnet source reads them); the same bytes cut at
// form feeds (0x0C) into the five fields of a spot as a page's columns could give them.

#include "cluster/node_lines.h"
#include "fuzz_common.h"
#include "spot/text.h"
#include "telnet/dx_line.h"
#include "telnet/telnet_lines.h"

#include <algorithm>
#include <array>
#include <sstream>

namespace {

bool IsClean(const std::string& text)
{
    return ValidUtf8(text) == text && std::none_of(text.begin(), text.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20;
           });
}

void CheckNodeLines(const Spot& spot, const std::string& origin)
{
    const std::string line = NodeSpotLine(spot, 1796640000); // 7 Dec 2026 00:00 UTC
    const std::string show = ShowDxLine(spot, 1796640000);
    FUZZ_CHECK(IsClean(line) && IsClean(show) && CharacterCount(line) == 75
                   && FirstCharacters(line, 75).substr(FirstCharacters(line, 74).size()) == "Z",
               origin + "\nnode line '" + fuzzing::Escaped(line) + "'\nshow line '" + fuzzing::Escaped(show)
                   + "'");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(data, data + size);
    TelnetLines reader(1024, kNodeText);
    for (const std::string& line : reader.Feed(bytes)) {
        if (const auto spot = SpotOfDxLine(line)) {
            const std::string cluster = ClusterLine(*spot);
            FUZZ_CHECK(IsClean(cluster) && CharacterCount(spot->spotter) <= kSpotterLimit,
                       "line '" + fuzzing::Escaped(line) + "'\ncluster line '" + fuzzing::Escaped(cluster)
                           + "'");
            CheckNodeLines(*spot, "line '" + fuzzing::Escaped(line) + "'");
        }
    }
    std::array<std::string, 5> fields;
    std::istringstream cut(bytes);
    for (std::string& field : fields) {
        std::getline(cut, field, '\f');
    }
    CheckNodeLines({fields[0], fields[1], fields[2], fields[3], fields[4]},
                   "fields '" + fuzzing::Escaped(bytes) + "'");
    return 0;
}
