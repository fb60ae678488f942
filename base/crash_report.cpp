#include "base/crash_report.h"

namespace {

struct NamedCode {
    uint32_t code;
    const char *name;
};

// The system's exception codes (winnt.h / ntstatus.h) and our own.
const NamedCode kExceptionNames[] = {
    {kAccessViolationCode, "EXCEPTION_ACCESS_VIOLATION"},
    {kInPageErrorCode, "EXCEPTION_IN_PAGE_ERROR"},
    {0x80000002, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0x80000003, "EXCEPTION_BREAKPOINT"},
    {0x80000004, "EXCEPTION_SINGLE_STEP"},
    {0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000025, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "EXCEPTION_INVALID_DISPOSITION"},
    {0xC000008C, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {0xC000008E, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "EXCEPTION_FLT_INEXACT_RESULT"},
    {0xC0000090, "EXCEPTION_FLT_INVALID_OPERATION"},
    {0xC0000091, "EXCEPTION_FLT_OVERFLOW"},
    {0xC0000092, "EXCEPTION_FLT_STACK_CHECK"},
    {0xC0000093, "EXCEPTION_FLT_UNDERFLOW"},
    {0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "EXCEPTION_INT_OVERFLOW"},
    {0xC0000096, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC00000FD, "EXCEPTION_STACK_OVERFLOW"},
    {0xC0000374, "STATUS_HEAP_CORRUPTION"},
    {0xC0000409, "STATUS_STACK_BUFFER_OVERRUN"},
    {0xE06D7363, "C++ exception (Microsoft runtime)"},
    {0x20474343, "C++ exception (GCC runtime)"},
    {kTerminateExceptionCode, "std::terminate (a C++ exception nobody caught)"},
    {kAbortExceptionCode, "abort()"},
};

void AppendAddress(BoundedText<char> &text, uint64_t address) {
    text.AppendAscii("0x").AppendHex(address, 16);
}

} // namespace

const char *ExceptionName(uint32_t code) {
    for (const NamedCode &known : kExceptionNames)
        if (known.code == code) return known.name;
    return nullptr;
}

size_t FormatCrashText(const CrashFacts &facts, char *out, size_t capacity) {
    BoundedText<char> text(out, capacity);
    text.Append(facts.program)
        .Append(" ")
        .Append(facts.version)
        .Append(" stopped on an unhandled exception.\r\n");

    const CrashTime &t = facts.time;
    text.Append("Time: ")
        .AppendDecimal(static_cast<uint64_t>(t.year), 4)
        .Append("-")
        .AppendDecimal(static_cast<uint64_t>(t.month), 2)
        .Append("-")
        .AppendDecimal(static_cast<uint64_t>(t.day), 2)
        .Append(" ")
        .AppendDecimal(static_cast<uint64_t>(t.hour), 2)
        .Append(":")
        .AppendDecimal(static_cast<uint64_t>(t.minute), 2)
        .Append(":")
        .AppendDecimal(static_cast<uint64_t>(t.second), 2)
        .Append(".")
        .AppendDecimal(static_cast<uint64_t>(t.millisecond), 3)
        .Append(" (local time)\r\n");

    text.Append("Process: ").AppendDecimal(facts.processId).Append("\r\n");
    text.Append("Thread: ")
        .AppendDecimal(facts.threadId)
        .Append(facts.onStartThread ? " (the start-up thread)\r\n" : " (a worker thread)\r\n");

    const char *name = ExceptionName(facts.code);
    text.Append("Exception: 0x").AppendHex(facts.code, 8);
    if (name != nullptr) text.Append(" ").Append(name);
    text.Append("\r\n");

    text.Append("Address: ");
    AppendAddress(text, facts.address);
    if (facts.imageSize != 0 && facts.address >= facts.imageBase &&
        facts.address - facts.imageBase < facts.imageSize)
        text.Append(" (")
            .Append(facts.program)
            .Append("+0x")
            .AppendHex(facts.address - facts.imageBase)
            .Append(")");
    text.Append("\r\n");

    if ((facts.code == kAccessViolationCode || facts.code == kInPageErrorCode) &&
        facts.parameterCount >= 2) {
        const uint64_t kind = facts.parameters[0];
        text.Append("Access: ")
            .Append(kind == 0   ? "read of "
                    : kind == 1 ? "write to "
                    : kind == 8 ? "execution at "
                                : "access to ");
        AppendAddress(text, facts.parameters[1]);
        text.Append("\r\n");
    }

    if (facts.dumpWritten)
        text.Append("Minidump: ").Append(facts.dumpName).Append("\r\n");
    else
        text.Append("Minidump: not written (error ").AppendDecimal(facts.dumpError).Append(")\r\n");
    return text.Length();
}
