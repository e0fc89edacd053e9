// Country file and call text from the outside: any call text against any "cty.dat" content must
// give results in range, leave the record alone when nothing matches, and never crash or hang.
//
// Input layout: byte 0 = length of the call text, then the call text (any bytes), then the whole
// country file.

#include "country/country.h"
#include "fuzz_common.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr int kMaxCallLength = 39;

void FillCanary(char (&record)[kCountryRecordSize])
{
    for (int i = 0; i < kCountryRecordSize; ++i) {
        record[i] = static_cast<char>(0xA5 ^ i);
    }
}

bool IsContinentBit(int bit)
{
    return bit == 0 || bit == kContinentEU || bit == kContinentNA || bit == kContinentSA
        || bit == kContinentAF || bit == kContinentAS || bit == kContinentOC;
}

std::string Context(const std::string& call, const std::string& work, int result)
{
    return "call '" + fuzzing::Escaped(call) + "', looked up as '" + fuzzing::Escaped(work) + "', result "
        + std::to_string(result);
}

// The form in which the continent resolution hands a call to the lookup: at most 39 characters,
// upper case.
std::string LookupText(const std::string& call)
{
    std::string work(call.c_str(), std::min<std::size_t>(std::strlen(call.c_str()), kMaxCallLength));
    for (char& c : work) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return work;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzing::ProcessTempDir();
    FUZZ_CHECK(ContinentOfCall(nullptr) == 0, "an absent call text must resolve to no continent");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t callLength = std::min<std::size_t>(data[0], size - 1);
    const std::string call(reinterpret_cast<const char*>(data) + 1, callLength);
    const std::string_view file(reinterpret_cast<const char*>(data) + 1 + callLength, size - 1 - callLength);
    fuzzing::WriteFileHere("cty.dat", file);

    const int bit = ContinentOfCall(call.c_str());
    FUZZ_CHECK(IsContinentBit(bit),
               "ContinentOfCall('" + fuzzing::Escaped(call) + "') = " + std::to_string(bit));

    const std::string work = LookupText(call);
    char record[kCountryRecordSize];
    FillCanary(record);
    const int result = FindCountry(work.c_str(), record);
    const std::string context = Context(call, work, result);

    FUZZ_CHECK(result == 0 || result == 99 || (result >= 1 && result < kMaxCallLength), context);
    // A partial match is the length of an alias that is a prefix of the call, so shorter than it.
    FUZZ_CHECK(result == 0 || result == 99 || static_cast<std::size_t>(result) < work.size(), context);
    FUZZ_CHECK(!work.empty() || result == 0, "an empty call must never match; " + context);

    char canary[kCountryRecordSize];
    FillCanary(canary);
    if (result == 0) {
        FUZZ_CHECK(std::memcmp(record, canary, sizeof record) == 0,
                   "record written without a match; " + context);
    } else {
        FUZZ_CHECK(std::memchr(record, '\0', sizeof record) != nullptr,
                   "record is not a terminated text; " + context);
        FUZZ_CHECK(IsContinentBit(ContinentBitOfRecord(record)), context);
    }

    // The lookup keeps no state: the same file and call give the same answer and the same record.
    char again[kCountryRecordSize];
    FillCanary(again);
    const int second = FindCountry(work.c_str(), again);
    FUZZ_CHECK(second == result, context + ", then " + std::to_string(second));
    FUZZ_CHECK(std::memcmp(record, again, sizeof record) == 0, "record differs on a repeat; " + context);

    // The file is read as text: the same file with CR LF line ends reads the same.
    if (file.find('\r') == std::string_view::npos && file.find('\n') != std::string_view::npos) {
        std::string crlf;
        for (const char c : file) {
            if (c == '\n') {
                crlf += '\r';
            }
            crlf += c;
        }
        fuzzing::WriteFileHere("cty.dat", crlf);
        FillCanary(again);
        const int withCrLf = FindCountry(work.c_str(), again);
        FUZZ_CHECK(withCrLf == result, context + ", with CR LF line ends " + std::to_string(withCrLf));
        FUZZ_CHECK(std::memcmp(record, again, sizeof record) == 0, "record differs with CR LF; " + context);
        FUZZ_CHECK(ContinentOfCall(call.c_str()) == bit, "continent differs with CR LF; " + context);
    }
    return 0;
}
