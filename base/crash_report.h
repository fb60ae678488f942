// The words of a crash report, formed without the heap: when the program
// has crashed its heap may be corrupt, and the report must still be written.
// Everything here writes into the caller's fixed buffers, cuts what does not
// fit, and always leaves a terminating zero.
#pragma once

#include <cstddef>
#include <cstdint>

// A text in a caller's fixed buffer. Appending never writes past the buffer;
// what does not fit is dropped and Truncated() says so.
template <typename Char> class BoundedText {
  public:
    BoundedText(Char *buffer, size_t capacity) : m_buffer(buffer), m_capacity(capacity) {
        if (m_capacity > 0) m_buffer[0] = 0;
    }

    BoundedText &Append(const Char *text) {
        while (text != nullptr && *text != 0)
            Put(*text++);
        return *this;
    }
    // Plain ASCII into a text of any character type.
    BoundedText &AppendAscii(const char *text) {
        while (text != nullptr && *text != 0)
            Put(static_cast<Char>(static_cast<unsigned char>(*text++)));
        return *this;
    }
    BoundedText &AppendDecimal(uint64_t value, int minDigits = 1) {
        Char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<Char>('0' + value % 10);
            value /= 10;
        } while (value != 0 && count < 24);
        while (count < minDigits && count < 24)
            digits[count++] = static_cast<Char>('0');
        while (count > 0)
            Put(digits[--count]);
        return *this;
    }
    // Upper-case hexadecimal digits, without a prefix.
    BoundedText &AppendHex(uint64_t value, int minDigits = 1) {
        Char digits[16];
        int count = 0;
        do {
            digits[count++] = static_cast<Char>("0123456789ABCDEF"[value & 0xF]);
            value >>= 4;
        } while (value != 0 && count < 16);
        while (count < minDigits && count < 16)
            digits[count++] = static_cast<Char>('0');
        while (count > 0)
            Put(digits[--count]);
        return *this;
    }

    size_t Length() const { return m_length; }
    bool Truncated() const { return m_truncated; }
    const Char *Data() const { return m_buffer; }

  private:
    void Put(Char c) {
        if (m_length + 1 >= m_capacity) {
            m_truncated = true;
            return;
        }
        m_buffer[m_length++] = c;
        m_buffer[m_length] = 0;
    }

    Char *m_buffer;
    size_t m_capacity;
    size_t m_length = 0;
    bool m_truncated = false;
};

// Local time of the crash, as the platform gives it.
struct CrashTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Our own exception codes for the ways a C++ program ends that are not a
// processor exception: std::terminate (an exception nobody caught, a throw
// out of a noexcept function, a pure virtual call) and abort(). Customer
// codes (bit 29 set), so that they never meet the system's.
inline constexpr uint32_t kTerminateExceptionCode = 0xE0515401;
inline constexpr uint32_t kAbortExceptionCode = 0xE0515402;

// Access violations and in-page errors carry the kind of access and the
// address that was touched as their first two parameters.
inline constexpr uint32_t kAccessViolationCode = 0xC0000005;
inline constexpr uint32_t kInPageErrorCode = 0xC0000006;

struct CrashFacts {
    const char *program = ""; // the program file's name
    const char *version = ""; // the file version
    CrashTime time;
    uint32_t processId = 0;
    uint32_t threadId = 0;
    bool onStartThread = false; // the thread that installed the handler (the window's)
    uint32_t code = 0;
    uint64_t address = 0;
    // The program's own image, so that an address inside it can be given as
    // an offset a developer looks up in the map of the build.
    uint64_t imageBase = 0;
    uint64_t imageSize = 0;
    uint32_t parameterCount = 0;
    uint64_t parameters[2] = {0, 0};
    const char *dumpName = ""; // the minidump's file name, beside the text
    bool dumpWritten = false;
    uint32_t dumpError = 0; // the system's error code when it was not written
};

// The name of an exception code, or nullptr for a code this program does not
// know.
const char *ExceptionName(uint32_t code);

// The report's text, one fact a line (CR LF line ends, for Notepad). Returns
// the length written.
size_t FormatCrashText(const CrashFacts &facts, char *out, size_t capacity);

// The name shared by the minidump and the text of one crash, without
// extension: "crash-YYYYMMDD-HHMMSS-<process id>", unique as long as a
// process crashes only once.
template <typename Char>
void FormatCrashFileStem(BoundedText<Char> &out, const CrashTime &time, uint32_t processId) {
    out.AppendAscii("crash-")
        .AppendDecimal(static_cast<uint64_t>(time.year), 4)
        .AppendDecimal(static_cast<uint64_t>(time.month), 2)
        .AppendDecimal(static_cast<uint64_t>(time.day), 2)
        .AppendAscii("-")
        .AppendDecimal(static_cast<uint64_t>(time.hour), 2)
        .AppendDecimal(static_cast<uint64_t>(time.minute), 2)
        .AppendDecimal(static_cast<uint64_t>(time.second), 2)
        .AppendAscii("-")
        .AppendDecimal(processId);
}
