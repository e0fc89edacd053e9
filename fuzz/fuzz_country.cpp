// The alias index against the line-by-line scan it stands in for: for any country file and any
// call text, FindCountry gives the same result and the same record both ways, and ContinentOfCall
// the same bit.
//
// Input layout: byte 0 = length of the call text, then the call text (any bytes), then the whole
// country file.

#include "country/country_file.h"
#include "fuzz_common.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

using country_detail::Lookup;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::size_t textLength = std::min<std::size_t>(data[0], size - 1);
    const std::string text(bytes + 1, textLength);
    const auto file
        = country_detail::ParseCountryFile(std::string_view(bytes + 1 + textLength, size - 1 - textLength));

    // The lookup is handed at most 39 characters, as the continent resolution cuts them.
    const std::string call = std::string(text.c_str()).substr(0, 39);
    char indexed[kCountryRecordSize];
    char scanned[kCountryRecordSize];
    std::memset(indexed, 0xA5, sizeof indexed);
    std::memset(scanned, 0xA5, sizeof scanned);
    const int fast = FindCountryIn(*file, Lookup::Indexed, call.c_str(), indexed);
    const int literal = FindCountryIn(*file, Lookup::Literal, call.c_str(), scanned);
    const auto context = [&] {
        return "call '" + fuzzing::Escaped(call) + "': index " + std::to_string(fast) + ", scan "
            + std::to_string(literal) + "\nindex record " + fuzzing::Escaped({indexed, sizeof indexed})
            + "\nscan record  " + fuzzing::Escaped({scanned, sizeof scanned});
    };
    FUZZ_CHECK(fast == literal && std::memcmp(indexed, scanned, sizeof indexed) == 0, context());
    FUZZ_CHECK(literal == 0 || literal == 99 || (literal >= 1 && literal < static_cast<int>(call.size())),
               context());
    // A match always writes the record (a header line ends in a NUL), no match never does.
    FUZZ_CHECK((literal == 0)
                   == std::all_of(scanned, scanned + sizeof scanned, [](char c) { return c == '\xA5'; }),
               context());

    const int bit = ContinentOfCallIn(*file, Lookup::Indexed, text.c_str());
    const int literalBit = ContinentOfCallIn(*file, Lookup::Literal, text.c_str());
    FUZZ_CHECK(bit == literalBit
                   && (bit == 0
                       || std::any_of(kContinents.begin(), kContinents.end(),
                                      [bit](const Continent& c) { return c.bit == bit; })),
               "text '" + fuzzing::Escaped(text) + "': index " + std::to_string(bit) + ", scan "
                   + std::to_string(literalBit));
    return 0;
}
