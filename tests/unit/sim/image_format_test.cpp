#include "sim/image_format.h"
#include "sim/versions.h"
#include "sim/xxhash64.h"
#include "tests/unit/sim/sim_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qvsim;
using qvsim_test::TempFolder;

TEST(XxHash64, MatchesPublishedValues) {
    const struct {
        const char *text;
        uint64_t hash;
    } cases[] = {
        {"", 0xef46db3751d8e999ULL},
        {"a", 0xd24ec4f1a98c6e5bULL},
        {"abc", 0x44bc2cf5ad770999ULL},
        {"1234", 0xd8316e61d84f6ba4ULL},
        {"12345678", 0xd2d02f08cf7cfd4aULL},
        {"1234567890123456789012345678901", 0x8f367cb873a5376eULL},
        {"12345678901234567890123456789012", 0x40fd1aa52d98274cULL},
        {"The quick brown fox jumps over the lazy dog", 0x0b242d361fda71bcULL},
    };
    for (const auto &c : cases)
        EXPECT_EQ(XxHash64::Of(c.text, std::strlen(c.text)), c.hash) << c.text;
}

TEST(XxHash64, StreamingInAnyPiecesEqualsOnePass) {
    std::string data(1000, '\0');
    PatternBytes(9, 0, reinterpret_cast<unsigned char *>(&data[0]), data.size());
    const uint64_t whole = XxHash64::Of(data.data(), data.size());
    for (size_t piece : {1u, 3u, 31u, 32u, 33u, 100u, 999u}) {
        XxHash64 hash;
        for (size_t at = 0; at < data.size(); at += piece)
            hash.Update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(hash.Digest(), whole) << "pieces of " << piece;
    }
}

TEST(PatternBytes, SameBytesAtAnyOffset) {
    unsigned char whole[64], part[20];
    PatternBytes(5, 0, whole, sizeof whole);
    PatternBytes(5, 13, part, sizeof part);
    EXPECT_EQ(0, std::memcmp(whole + 13, part, sizeof part));
}

TEST(Versions, TextsAndWords) {
    EXPECT_EQ(LoaderVersionText(0x0205), "2.05");
    EXPECT_EQ(LoaderVersionText(0x01FF), "1.255");
    EXPECT_EQ(SystemVersionText(0x0A0B0010), "a.b.10");
    const struct {
        const char *text;
        bool ok;
        uint16_t word;
    } loaders[] = {{"2.05", true, 0x0205}, {"1.41", true, 0x0129}, {"2.5", true, 0x0205},
                   {"1.300", false, 0},    {"2", false, 0},        {"a.b", false, 0},
                   {"", false, 0},         {"-1.2", false, 0}};
    for (const auto &c : loaders) {
        uint16_t word = 0;
        EXPECT_EQ(ParseLoaderVersion(c.text, word), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(word, c.word) << c.text;
        }
    }
    const struct {
        const char *text;
        bool ok;
        uint32_t word;
    } systems[] = {{"1.2.3", true, 0x01020003},
                   {"a.b.10", true, 0x0A0B0010},
                   {"0x01020003", true, 0x01020003},
                   {"100.0.0", false, 0},
                   {"1.2", false, 0},
                   {"1.2.10000", false, 0}};
    for (const auto &c : systems) {
        uint32_t word = 0;
        EXPECT_EQ(ParseSystemVersion(c.text, word), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(word, c.word) << c.text;
        }
    }
    uint64_t bytes = 0;
    EXPECT_TRUE(ParseByteCount("8M", bytes));
    EXPECT_EQ(bytes, 8u << 20);
    EXPECT_FALSE(ParseByteCount("8X", bytes));
}

class ImageTest : public ::testing::Test {
  public: // the damage table below works on the fixture
    TempFolder folder;
    std::filesystem::path image = folder / "a.img";
    static constexpr uint64_t kPayload = 100000;

    void SetUp() override {
        ASSERT_FALSE(qvsim_test::MakeImage(image, 0x0207, 0x01020003, kPayload).empty());
    }
    void Patch(uint64_t offset, const void *bytes, size_t length) {
        std::string data = qvsim_test::ReadAll(image);
        std::memcpy(&data[size_t(offset)], bytes, length);
        ASSERT_TRUE(WriteFileAtomically(image, data));
    }
    void Flip(uint64_t offset) {
        std::string data = qvsim_test::ReadAll(image);
        data[size_t(offset)] = char(data[size_t(offset)] ^ 0xFF);
        ASSERT_TRUE(WriteFileAtomically(image, data));
    }
    // A little-endian 64-bit field of the image header.
    uint64_t Field(uint64_t offset) {
        const std::string data = qvsim_test::ReadAll(image);
        uint64_t value = 0;
        for (int i = 7; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(data[size_t(offset) + i]);
        return value;
    }
    void PatchField(uint64_t offset, uint64_t value) {
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] = static_cast<unsigned char>(value >> (8 * i));
        Patch(offset, bytes, 8);
    }
    // Rewrites the checksum so that only the change under test is wrong.
    void Reseal() {
        std::string data = qvsim_test::ReadAll(image);
        std::memset(&data[kChecksumOffset], 0, 8);
        const uint64_t sum = XxHash64::Of(data.data(), data.size());
        for (int i = 0; i < 8; ++i)
            data[kChecksumOffset + i] = char(sum >> (8 * i));
        ASSERT_TRUE(WriteFileAtomically(image, data));
    }
};

TEST_F(ImageTest, SoundImageHandsOverExactlyItsSections) {
    std::string loader, system;
    ImageSinks sinks;
    sinks.loader = [&](const unsigned char *p, size_t n) {
        loader.append(reinterpret_cast<const char *>(p), n);
        return true;
    };
    sinks.system = [&](const unsigned char *p, size_t n) {
        system.append(reinterpret_cast<const char *>(p), n);
        return true;
    };
    ImageHeader header;
    ASSERT_EQ(ScanImage(image, header, &sinks), ImageError::None);
    EXPECT_EQ(header.loaderVersion, 0x0207);
    EXPECT_EQ(header.systemVersion, 0x01020003u);
    EXPECT_EQ(system, qvsim_test::PayloadOf(kPayload));
    uint16_t version = 0;
    EXPECT_TRUE(DecodeLoader(reinterpret_cast<const unsigned char *>(loader.data()), loader.size(),
                             version));
    EXPECT_EQ(version, 0x0207);
}

TEST_F(ImageTest, DamagedImagesAreRefused) {
    const uint64_t size = std::filesystem::file_size(image);
    const struct {
        const char *what;
        std::function<void(ImageTest &)> damage;
        ImageError expected;
    } cases[] = {
        {"bad magic", [](ImageTest &t) { t.Patch(0, "XV70", 4); }, ImageError::BadMagic},
        {"payload byte flipped", [size](ImageTest &t) { t.Flip(size - 10); },
         ImageError::BadChecksum},
        {"header byte flipped", [](ImageTest &t) { t.Flip(17); }, ImageError::BadChecksum},
        {"checksum itself changed", [](ImageTest &t) { t.Flip(kChecksumOffset); },
         ImageError::BadChecksum},
        {"last byte missing",
         [size](ImageTest &t) { std::filesystem::resize_file(t.image, size - 1); },
         ImageError::Truncated},
        {"only the header left", [](ImageTest &t) { std::filesystem::resize_file(t.image, 64); },
         ImageError::Truncated},
        {"half a header", [](ImageTest &t) { std::filesystem::resize_file(t.image, 20); },
         ImageError::Truncated},
        {"empty file", [](ImageTest &t) { std::filesystem::resize_file(t.image, 0); },
         ImageError::BadMagic},
        {"trailing bytes",
         [size](ImageTest &t) { std::filesystem::resize_file(t.image, size + 1); },
         ImageError::BadLayout},
        {"future format",
         [](ImageTest &t) {
             t.Patch(8, "\x02\x00", 2);
             t.Reseal();
         },
         ImageError::UnsupportedFormat},
        {"loader version disagrees",
         [](ImageTest &t) {
             t.Patch(12, "\x09\x02", 2);
             t.Reseal();
         },
         ImageError::BadLoader},
        {"huge loader length",
         [](ImageTest &t) {
             t.Patch(32, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8);
             t.Reseal();
         },
         ImageError::BadLayout},
        {"system section overlaps the loader",
         [size](ImageTest &t) {
             // Still ending at the end of the file: only the overlap is wrong.
             const uint64_t loaderEnd = t.Field(24) + t.Field(32);
             t.PatchField(40, loaderEnd - 1);
             t.PatchField(48, size - (loaderEnd - 1));
             t.Reseal();
         },
         ImageError::BadLayout},
        {"loader header length disagrees",
         [](ImageTest &t) {
             const uint64_t lengthField = t.Field(24) + 8; // the loader's own body length
             const std::string data = qvsim_test::ReadAll(t.image);
             unsigned char length[4];
             std::memcpy(length, &data[size_t(lengthField)], 4);
             length[0] = static_cast<unsigned char>(length[0] - 1);
             t.Patch(lengthField, length, 4);
             t.Reseal();
         },
         ImageError::BadLoader},
        {"system beyond the end",
         [](ImageTest &t) {
             t.Patch(48, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8);
             t.Reseal();
         },
         ImageError::Truncated},
    };
    const std::string original = qvsim_test::ReadAll(image);
    for (const auto &c : cases) {
        ASSERT_TRUE(WriteFileAtomically(image, original));
        c.damage(*this);
        bool sinkCalled = false;
        ImageSinks sinks;
        sinks.system = [&](const unsigned char *, size_t) { return sinkCalled = true; };
        ImageHeader header;
        EXPECT_EQ(ScanImage(image, header, &sinks), c.expected) << c.what;
        // Bytes may reach a sink before the checksum fails, but never for a
        // header that is wrong in itself.
        if (c.expected != ImageError::BadChecksum) {
            EXPECT_FALSE(sinkCalled) << c.what;
        }
    }
}

TEST_F(ImageTest, MissingFileOrFolderIsUnreadable) {
    ImageHeader header;
    EXPECT_EQ(ScanImage(folder / "none.img", header), ImageError::Unreadable);
    EXPECT_EQ(ScanImage(folder.Path(), header), ImageError::Unreadable);
}

TEST_F(ImageTest, ASinkCanStopTheScan) {
    ImageSinks sinks;
    sinks.system = [](const unsigned char *, size_t) { return false; };
    ImageHeader header;
    EXPECT_EQ(ScanImage(image, header, &sinks), ImageError::Stopped);
}

TEST(ImageWrite, EmptyPayloadIsAValidImage) {
    TempFolder folder;
    const auto image = qvsim_test::MakeImage(folder / "e.img", 0x0100, 1, 0);
    ImageHeader header;
    EXPECT_EQ(ScanImage(image, header), ImageError::None);
    EXPECT_EQ(header.systemLength, 0u);
}
