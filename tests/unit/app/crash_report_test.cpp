// The crash report's words are formed in fixed buffers: they must never run
// past them, and must say what a developer needs to find the fault.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/crash_report.h"

namespace {

TEST(BoundedText, NumbersInDecimalAndHexadecimal) {
    char buffer[64];
    BoundedText<char> text(buffer, sizeof buffer);
    text.AppendDecimal(0).Append(" ").AppendDecimal(7, 3).Append(" ").AppendDecimal(
        18446744073709551615ull);
    text.Append(" ")
        .AppendHex(0xC0000005, 8)
        .Append(" ")
        .AppendHex(0x2A, 4)
        .Append(" ")
        .AppendHex(0);
    EXPECT_STREQ(buffer, "0 007 18446744073709551615 C0000005 002A 0");
    EXPECT_FALSE(text.Truncated());
    EXPECT_EQ(text.Length(), std::strlen(buffer));
}

// Whatever is appended, the buffer keeps its terminating zero and nothing
// lands past it.
TEST(BoundedText, CutsWhatDoesNotFitAndNeverWritesPastTheBuffer) {
    for (size_t capacity = 1; capacity <= 12; ++capacity) {
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        BoundedText<char> text(buffer, capacity);
        text.Append("crash-").AppendDecimal(20261208).AppendHex(0xFFFF).AppendAscii("x");
        EXPECT_EQ(text.Length(), capacity - 1) << capacity;
        EXPECT_EQ(buffer[capacity - 1], '\0') << capacity;
        EXPECT_EQ(std::string(buffer), std::string("crash-20261208FFFFx").substr(0, capacity - 1));
        for (size_t i = capacity; i < sizeof buffer; ++i)
            EXPECT_EQ(buffer[i], '#') << "written past a buffer of " << capacity;
        EXPECT_TRUE(text.Truncated());
    }
}

TEST(BoundedText, WideTextTakesAsciiAndWideParts) {
    wchar_t buffer[32];
    BoundedText<wchar_t> text(buffer, 32);
    text.Append(L"C:\\Program\\Log\\").AppendAscii(".dmp");
    EXPECT_STREQ(buffer, L"C:\\Program\\Log\\.dmp");
}

TEST(CrashFileStem, DateTimeAndProcess) {
    CrashTime time;
    time.year = 2026;
    time.month = 3;
    time.day = 9;
    time.hour = 7;
    time.minute = 5;
    time.second = 1;
    wchar_t wide[64];
    BoundedText<wchar_t> wideStem(wide, 64);
    FormatCrashFileStem(wideStem, time, 4242);
    EXPECT_STREQ(wide, L"crash-20260309-070501-4242");
    char narrow[64];
    BoundedText<char> narrowStem(narrow, 64);
    FormatCrashFileStem(narrowStem, time, 4242);
    EXPECT_STREQ(narrow, "crash-20260309-070501-4242");
}

TEST(ExceptionName, KnownAndUnknownCodes) {
    EXPECT_STREQ(ExceptionName(0xC0000005), "EXCEPTION_ACCESS_VIOLATION");
    EXPECT_STREQ(ExceptionName(0xC00000FD), "EXCEPTION_STACK_OVERFLOW");
    EXPECT_STREQ(ExceptionName(0xC0000094), "EXCEPTION_INT_DIVIDE_BY_ZERO");
    EXPECT_NE(ExceptionName(kTerminateExceptionCode), nullptr);
    EXPECT_NE(ExceptionName(kAbortExceptionCode), nullptr);
    EXPECT_EQ(ExceptionName(0x12345678), nullptr);
}

CrashFacts SampleFacts() {
    CrashFacts facts;
    facts.program = "DeviceManager.exe";
    facts.version = "1.2.0.3";
    facts.time = CrashTime{2026, 12, 8, 13, 4, 59, 7};
    facts.processId = 1200;
    facts.threadId = 1244;
    facts.onStartThread = false;
    facts.code = kAccessViolationCode;
    facts.address = 0x140001234;
    facts.imageBase = 0x140000000;
    facts.imageSize = 0x20000;
    facts.parameterCount = 2;
    facts.parameters[0] = 1;
    facts.parameters[1] = 0x10;
    facts.dumpName = "crash-20261208-130459-1200.dmp";
    facts.dumpWritten = true;
    return facts;
}

std::string Format(const CrashFacts &facts) {
    char buffer[2048];
    const size_t length = FormatCrashText(facts, buffer, sizeof buffer);
    EXPECT_EQ(length, std::strlen(buffer));
    return buffer;
}

TEST(CrashText, NamesTheProgramTheTimeTheThreadAndTheFault) {
    EXPECT_EQ(Format(SampleFacts()),
              "DeviceManager.exe 1.2.0.3 stopped on an unhandled exception.\r\n"
              "Time: 2026-12-08 13:04:59.007 (local time)\r\n"
              "Process: 1200\r\n"
              "Thread: 1244 (a worker thread)\r\n"
              "Exception: 0xC0000005 EXCEPTION_ACCESS_VIOLATION\r\n"
              "Address: 0x0000000140001234 (DeviceManager.exe+0x1234)\r\n"
              "Access: write to 0x0000000000000010\r\n"
              "Minidump: crash-20261208-130459-1200.dmp\r\n");
}

TEST(CrashText, AnAddressOutsideTheProgramHasNoOffset) {
    CrashFacts facts = SampleFacts();
    facts.address = 0x7FF800001000;
    facts.onStartThread = true;
    const std::string text = Format(facts);
    EXPECT_NE(text.find("Address: 0x00007FF800001000\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Thread: 1244 (the start-up thread)\r\n"), std::string::npos) << text;
    // The end of the image is outside it.
    facts.address = facts.imageBase + facts.imageSize;
    EXPECT_EQ(Format(facts).find("DeviceManager.exe+"), std::string::npos);
}

TEST(CrashText, AccessKindsAndOtherExceptions) {
    CrashFacts facts = SampleFacts();
    facts.parameters[0] = 0;
    EXPECT_NE(Format(facts).find("Access: read of 0x0000000000000010"), std::string::npos);
    facts.parameters[0] = 8;
    EXPECT_NE(Format(facts).find("Access: execution at 0x0000000000000010"), std::string::npos);
    // Too few parameters: no access line, and nothing read past them.
    facts.parameterCount = 1;
    EXPECT_EQ(Format(facts).find("Access:"), std::string::npos);
    // Another exception has no access line and an unknown code no name.
    facts = SampleFacts();
    facts.code = 0x12345678;
    const std::string text = Format(facts);
    EXPECT_NE(text.find("Exception: 0x12345678\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Access:"), std::string::npos) << text;
}

TEST(CrashText, ADumpThatCouldNotBeWrittenSaysWhy) {
    CrashFacts facts = SampleFacts();
    facts.dumpWritten = false;
    facts.dumpError = 112;
    EXPECT_NE(Format(facts).find("Minidump: not written (error 112)\r\n"), std::string::npos);
}

TEST(CrashText, ASmallBufferGetsTheBeginningAndItsZero) {
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    const size_t length = FormatCrashText(SampleFacts(), buffer, 30);
    EXPECT_EQ(length, 29u);
    EXPECT_EQ(std::string(buffer), "DeviceManager.exe 1.2.0.3 sto");
    for (size_t i = 30; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], '#');
}

} // namespace
