#include "records/record_import.h"

#include <cstdint>
#include <iterator>

#include "records/csv_record_sink.h"

namespace {

const std::string kUtf8Bom = "\xEF\xBB\xBF";
constexpr uint64_t kMsPerSecond = 1000;
constexpr size_t kMillisecondDigits = 3;
constexpr uint32_t kHighestCodePoint = 0x10FFFF;
constexpr uint32_t kReplacement = 0xFFFD;
// The line after the header is the spreadsheet's row 2.
constexpr size_t kFirstRecordLine = 2;
constexpr size_t kHexDigitsPerWord = 16;
constexpr unsigned kBitsPerHexDigit = 4;
constexpr unsigned kBitsPerWord = 64;

std::wstring Widen(const std::string &ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// UTF-8 to the platform's wide text (UTF-16 where wchar_t has 16 bits); a
// broken sequence becomes U+FFFD, as the writer does with a lone surrogate.
std::wstring DecodeUtf8(const std::string &bytes) {
    constexpr unsigned char kContinuationMask = 0xC0, kContinuation = 0x80;
    constexpr unsigned kPayloadBits = 6;
    constexpr uint32_t kPayloadMask = 0x3F;
    // Lead byte patterns by the number of bytes that follow it.
    struct Lead {
        unsigned char mask, pattern;
    };
    constexpr Lead kLeads[] = {{0x80, 0x00}, {0xE0, 0xC0}, {0xF0, 0xE0}, {0xF8, 0xF0}};
    constexpr uint32_t kBeyondBmp = 0x10000;
    constexpr unsigned kSurrogateBits = 10;
    constexpr uint32_t kHighSurrogate = 0xD800, kLowSurrogate = 0xDC00, kSurrogateMask = 0x3FF;
    std::wstring out;
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        size_t extra = 0;
        while (extra < std::size(kLeads) && (lead & kLeads[extra].mask) != kLeads[extra].pattern)
            ++extra;
        bool whole = extra < std::size(kLeads) && i + extra < bytes.size();
        uint32_t value = whole ? lead & static_cast<unsigned char>(~kLeads[extra].mask) : 0;
        for (size_t k = 1; whole && k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            whole = (next & kContinuationMask) == kContinuation;
            value = (value << kPayloadBits) | (next & kPayloadMask);
        }
        const uint32_t c = whole && value <= kHighestCodePoint ? value : kReplacement;
        i += whole ? extra + 1 : 1;
        if (sizeof(wchar_t) == sizeof(char16_t) && c >= kBeyondBmp) {
            out += static_cast<wchar_t>(kHighSurrogate + ((c - kBeyondBmp) >> kSurrogateBits));
            out += static_cast<wchar_t>(kLowSurrogate + ((c - kBeyondBmp) & kSurrogateMask));
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

// The writer leads a text a spreadsheet would run as a formula with an
// apostrophe; the text itself is without it.
std::wstring RecordText(const std::string &field) {
    std::wstring text = DecodeUtf8(field);
    if (text.size() >= 2 && text[0] == L'\'' &&
        std::wstring(L"=+-@\t\r").find(text[1]) != std::wstring::npos)
        text.erase(0, 1);
    return text;
}

bool ParseInteger(const std::string &text, int64_t low, int64_t high, int64_t &value) {
    size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > high - (low < 0 ? low : 0)) return false;
    }
    value = text[0] == '-' ? -magnitude : magnitude;
    return value >= low && value <= high;
}

// "3.179" seconds; fewer decimals are allowed, as a spreadsheet may save.
bool ParseDurationMs(const std::string &text, uint64_t &ms) {
    const size_t dot = text.find('.');
    int64_t whole = 0;
    if (!ParseInteger(text.substr(0, dot), 0, INT64_MAX / kMsPerSecond, whole)) return false;
    uint64_t fraction = 0;
    if (dot != std::string::npos) {
        const std::string digits = text.substr(dot + 1);
        if (digits.empty() || digits.size() > kMillisecondDigits) return false;
        for (size_t k = 0; k < kMillisecondDigits; ++k) {
            const char c = k < digits.size() ? digits[k] : '0';
            if (c < '0' || c > '9') return false;
            fraction = fraction * 10 + static_cast<uint64_t>(c - '0');
        }
    }
    ms = static_cast<uint64_t>(whole) * kMsPerSecond + fraction;
    return true;
}

// FNV-1a with 128 bits: a spreadsheet's history of years stays far from
// two lines with one id. Its prime is 2^88 + 0x13B.
struct Hash128 {
    uint64_t high = 0x6C62272E07BB0142ull;
    uint64_t low = 0x62B821756295C58Dull;
    void Add(unsigned char byte) {
        constexpr uint64_t kPrimeLow = 0x13B;
        constexpr unsigned kPrimeShift = 88 - kBitsPerWord;
        low ^= byte;
        // (high:low) * (2^88 + kPrimeLow), modulo 2^128.
        const uint64_t lowLow = (low & 0xFFFFFFFFull) * kPrimeLow;
        const uint64_t lowHigh = (low >> 32) * kPrimeLow;
        const uint64_t product = lowLow + (lowHigh << 32);
        const uint64_t carry = (lowHigh >> 32) + (product < lowLow ? 1 : 0);
        high = high * kPrimeLow + carry + (low << kPrimeShift);
        low = product;
    }
};

std::wstring Hex(uint64_t word) {
    static const char kDigits[] = "0123456789abcdef";
    std::wstring out(kHexDigitsPerWord, L'0');
    for (size_t k = 0; k < kHexDigitsPerWord; ++k)
        out[kHexDigitsPerWord - 1 - k] =
            static_cast<wchar_t>(kDigits[(word >> (kBitsPerHexDigit * k)) & 0xF]);
    return out;
}

enum class Column {
    Start,
    End,
    Duration,
    Computer,
    ProgramVersion,
    Mode,
    DeviceKind,
    DeviceName,
    DeviceSerial,
    SoftwareBefore,
    LoaderBefore,
    ImageFile,
    ImageSoftware,
    ImageLoader,
    ImageSize,
    ImageSha256,
    ResultCode,
    VerdictKey,
    VerdictText,
    SoftwareAfter,
    JobId,
    Verified,
    Operator,
    TimeSwitch,
    TimeLoader,
    TimeRestart,
    TimeDownload,
    StartLocal,
};

// The columns in the order the record's header names them.
constexpr Column kLastColumn = Column::StartLocal;

// A phase's seconds as the line has them; empty: not reached.
bool TakePhase(const std::string &field, int64_t &ms) {
    if (field.empty()) {
        ms = kPhaseNotReached;
        return true;
    }
    uint64_t read = 0;
    if (!ParseDurationMs(field, read)) return false;
    ms = static_cast<int64_t>(read);
    return true;
}

// One field into the record; false when a number or a time does not read.
bool Take(Column column, const std::string &field, JobRecordFields &f) {
    int64_t number = 0;
    switch (column) {
    case Column::Start:
        return ParseUtcIso8601(field, f.startSeconds);
    case Column::End:
        return ParseUtcIso8601(field, f.endSeconds);
    case Column::Duration:
        return ParseDurationMs(field, f.durationMs);
    case Column::DeviceKind:
        if (!ParseInteger(field, INT32_MIN, INT32_MAX, number)) return false;
        f.deviceKind = static_cast<int32_t>(number);
        return true;
    case Column::ImageSize:
        if (!ParseInteger(field, 0, UINT32_MAX, number)) return false;
        f.imageSize = static_cast<uint32_t>(number);
        return true;
    case Column::ResultCode:
        if (!ParseInteger(field, INT32_MIN, INT32_MAX, number)) return false;
        f.resultCode = static_cast<int32_t>(number);
        return true;
    case Column::Computer:
        f.computer = RecordText(field);
        return true;
    case Column::ProgramVersion:
        f.programVersion = RecordText(field);
        return true;
    case Column::Mode:
        f.mode = RecordText(field);
        return true;
    case Column::DeviceName:
        f.deviceName = RecordText(field);
        return true;
    case Column::DeviceSerial:
        f.deviceSerial = RecordText(field);
        return true;
    case Column::SoftwareBefore:
        f.deviceSoftwareBefore = RecordText(field);
        return true;
    case Column::LoaderBefore:
        f.deviceLoaderBefore = RecordText(field);
        return true;
    case Column::ImageFile:
        f.imageFile = RecordText(field);
        return true;
    case Column::ImageSoftware:
        f.imageSoftware = RecordText(field);
        return true;
    case Column::ImageLoader:
        f.imageLoader = RecordText(field);
        return true;
    case Column::ImageSha256:
        f.imageSha256 = RecordText(field);
        return true;
    case Column::VerdictKey:
        f.verdictKey = RecordText(field);
        return true;
    case Column::VerdictText:
        f.verdictText = RecordText(field);
        return true;
    case Column::SoftwareAfter:
        f.deviceSoftwareAfter = RecordText(field);
        return true;
    case Column::JobId:
        f.jobId = RecordText(field);
        return true;
    case Column::Verified:
        f.verified = RecordText(field);
        return true;
    case Column::Operator:
        f.operatorName = RecordText(field);
        return true;
    case Column::TimeSwitch:
        return TakePhase(field, f.phases.switchMs);
    case Column::TimeLoader:
        return TakePhase(field, f.phases.loaderMs);
    case Column::TimeRestart:
        return TakePhase(field, f.phases.restartMs);
    case Column::TimeDownload:
        return TakePhase(field, f.phases.downloadMs);
    case Column::StartLocal:
        f.startLocal = RecordText(field);
        return true;
    }
    return false;
}

} // namespace

std::wstring DerivedJobId(const std::vector<std::string> &fieldsWithoutJobId) {
    Hash128 hash;
    for (const std::string &field : fieldsWithoutJobId) {
        for (char c : field)
            hash.Add(static_cast<unsigned char>(c));
        // A separator no field holds: "a","bc" and "ab","c" differ.
        hash.Add(0);
    }
    return Hex(hash.high) + Hex(hash.low);
}

RecordFileContents ReadRecordFileForImport(const std::string &bytes) {
    RecordFileContents contents;
    const bool bom = bytes.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0;
    std::vector<std::vector<std::string>> lines;
    SplitCsvLines(bom ? bytes.substr(kUtf8Bom.size()) : bytes, lines, true);
    // The header's names, by the column each stands for.
    std::vector<std::pair<size_t, Column>> named;
    if (!lines.empty()) {
        const std::vector<const char *> &known = JobRecordColumns();
        for (size_t at = 0; at < lines[0].size(); ++at)
            for (size_t k = 0; k < known.size(); ++k)
                if (lines[0][at] == known[k] && k <= static_cast<size_t>(kLastColumn))
                    named.emplace_back(at, static_cast<Column>(k));
    }
    if (named.empty()) {
        contents.notARecord = true;
        return contents;
    }
    const size_t headerFields = lines[0].size();
    for (size_t n = 1; n < lines.size(); ++n) {
        const std::vector<std::string> &fields = lines[n];
        // A blank line a hand edit left between the lines.
        if (fields.size() == 1 && fields[0].empty()) continue;
        ImportLine line;
        line.line = n - 1 + kFirstRecordLine;
        if (fields.size() > headerFields) {
            line.problem = ImportLine::Problem::TooManyFields;
            contents.lines.push_back(line);
            continue;
        }
        // The earlier lines of a file whose header got job_id later keep
        // their fewer fields: what they lack is empty.
        std::vector<std::string> identity;
        for (const auto &[at, column] : named) {
            const std::string field = at < fields.size() ? fields[at] : std::string();
            // The earliest layout's columns only: a line's id is the same
            // under any later header.
            if (column < Column::JobId) identity.push_back(field);
            if (!Take(column, field, line.fields) && line.problem == ImportLine::Problem::None) {
                line.problem = ImportLine::Problem::Unreadable;
                line.column = Widen(JobRecordColumns()[static_cast<size_t>(column)]);
            }
        }
        if (line.fields.jobId.empty()) line.fields.jobId = DerivedJobId(identity);
        contents.lines.push_back(std::move(line));
    }
    return contents;
}

ImportTally ImportRecordLines(const std::vector<ImportLine> &lines,
                              IRecordDestination &destination) {
    ImportTally tally;
    for (size_t k = 0; k < lines.size(); ++k) {
        const ImportLine &line = lines[k];
        if (line.problem != ImportLine::Problem::None) continue;
        std::wstring error;
        switch (destination.Deliver(line.fields, error)) {
        case DeliveryOutcome::Delivered:
            ++tally.sent;
            if (!error.empty()) tally.notice = error;
            break;
        case DeliveryOutcome::AlreadyDelivered:
            ++tally.alreadyThere;
            if (!error.empty()) tally.notice = error;
            break;
        case DeliveryOutcome::Refused:
            tally.refused.emplace_back(line.line, error);
            break;
        case DeliveryOutcome::Failed:
            // The next line would wait out the same log-in: the rest go at
            // the next import, which finds what did arrive already there.
            for (size_t rest = k; rest < lines.size(); ++rest)
                if (lines[rest].problem == ImportLine::Problem::None) ++tally.notSent;
            tally.notSentReason = error;
            return tally;
        }
    }
    return tally;
}
