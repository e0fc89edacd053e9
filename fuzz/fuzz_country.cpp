// Any call text against any country file: no crash or hang, results in range, the record written
// exactly when there is a match, and a continent that is none or one of the six.
//
// Input layout: byte 0 = length of the call text, then the call text (any bytes), then the whole
// country file.

#include "country/country.h"
#include "fuzz_common.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzing::ProcessTempDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::size_t callLength = std::min<std::size_t>(data[0], size - 1);
    const std::string call(bytes + 1, callLength);
    fuzzing::WriteFileHere("cty.dat", std::string_view(bytes + 1 + callLength, size - 1 - callLength));

    const int bit = ContinentOfCall(call.c_str());
    FUZZ_CHECK(bit == 0
                   || std::any_of(kContinents.begin(), kContinents.end(),
                                  [bit](const Continent& c) { return c.bit == bit; }),
               "ContinentOfCall('" + fuzzing::Escaped(call) + "') = " + std::to_string(bit));

    // The lookup is handed at most 39 characters, as the continent resolution cuts them.
    const std::string lookup = std::string(call.c_str()).substr(0, 39);
    char record[kCountryRecordSize];
    std::memset(record, 0xA5, sizeof record);
    const int result = FindCountry(lookup.c_str(), record);
    const std::string context = "call '" + fuzzing::Escaped(lookup) + "', result " + std::to_string(result);
    FUZZ_CHECK(result == 0 || result == 99 || (result >= 1 && result < static_cast<int>(lookup.size())),
               context);
    // A match always writes the record (a header line ends in a NUL), no match never does.
    FUZZ_CHECK((result == 0)
                   == std::all_of(record, record + sizeof record, [](char c) { return c == '\xA5'; }),
               "record written without a match, or a match without a record; " + context);
    return 0;
}
