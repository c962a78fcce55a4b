#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/records.h"
#include "serial/tpl.h"
#include "serial_test_bytes.h"

namespace quillon {
namespace {

using test::Bytes;

constexpr const char* kWholeFormat = "S(uc#cccccccjjvvu$(f#f#)c#vccccvc#c#vvcvvi#)";
constexpr const char* kHeadFormat = "S(uc#cccccccjjvvu$(f#f#)c#vccc)";

template <typename F>
std::string stderrOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

ScanConfig sectionedConfig() {
    ScanConfig c{};
    c.scanType = 2;
    c.configIndex = 0x0102;
    for (int i = 0; i < 8; ++i) c.configBytes8[i] = uint8_t(0xa0 + i);
    std::strcpy(c.configName, "Column 900-1700");
    c.sectioned.numRepeats = 6;
    c.sectioned.numSections = 1;
    c.sectioned.sections[0] = {0, 7, 900, 1700, 228, 2};
    return c;
}

ScanConfig singleConfig() {
    ScanConfig c{};
    c.scanType = 1;
    c.configIndex = 0x0304;
    for (int i = 0; i < 8; ++i) c.configBytes8[i] = uint8_t(i + 1);
    std::memset(c.configName, 'N', sizeof c.configName);  // no NUL at all
    c.single.wavelengthStartNm = 950;
    c.single.wavelengthEndNm = 1650;
    c.single.widthPixels = 9;
    c.single.numPatterns = 101;
    c.single.numRepeats = 3;
    return c;
}

TEST(SerialRecords, ConfigurationImagesAreByteExact) {
    // Sectioned: head image and the image of all five sections, though only one is used.
    ScanConfig sectioned = sectionedConfig();
    Bytes expected;
    expected.header("S(cvc#c#vc)", 82, {8, 40}).u8(2).u16(0x0102);
    for (int i = 0; i < 8; ++i) expected.u8(uint8_t(0xa0 + i));
    expected.text("Column 900-1700", 40).u16(6).u8(1);
    expected.header("S(ccvvvv)#", 73, {5}).u8(0).u8(7).u16(900).u16(1700).u16(228).u16(2);
    expected.text("", 40);
    ASSERT_EQ(expected.size(), 155u);

    size_t size = 0;
    EXPECT_EQ(scanConfigImageSize(sectioned, size), RecordStatus::Ok);
    EXPECT_EQ(size, 155u);
    std::vector<uint8_t> image(155);
    EXPECT_EQ(encodeScanConfig(sectioned, image.data(), image.size()), RecordStatus::Ok);
    EXPECT_EQ(image, expected.data());

    // Single form.
    ScanConfig single = singleConfig();
    Bytes expectedSingle;
    expectedSingle.header("S(cvc#c#vvcvv)", 91, {8, 40}).u8(1).u16(0x0304);
    for (int i = 0; i < 8; ++i) expectedSingle.u8(uint8_t(i + 1));
    expectedSingle.text(std::string(40, 'N')).u16(950).u16(1650).u8(9).u16(101).u16(3);
    EXPECT_EQ(scanConfigImageSize(single, size), RecordStatus::Ok);
    EXPECT_EQ(size, 91u);
    std::vector<uint8_t> singleImage(91);
    EXPECT_EQ(encodeScanConfig(single, singleImage.data(), singleImage.size()), RecordStatus::Ok);
    EXPECT_EQ(singleImage, expectedSingle.data());

    // Calibration coefficients.
    CalibrationCoefficients cal{{0.5, -1.25e-3, 3e-7}, {1700.0, -0.9375, 1.5e-5}};
    Bytes expectedCal;
    expectedCal.header("S(f#f#)", 72, {3, 3});
    for (double d : cal.rowShiftCoeffs) expectedCal.f64(d);
    for (double d : cal.pixelToNmCoeffs) expectedCal.f64(d);
    std::vector<uint8_t> calImage(72);
    EXPECT_EQ(encodeCalibration(cal, calImage.data(), calImage.size()), RecordStatus::Ok);
    EXPECT_EQ(calImage, expectedCal.data());
}

TEST(SerialRecords, ConfigurationRoundTripsAndBufferLimits) {
    for (const ScanConfig& config : {sectionedConfig(), singleConfig()}) {
        size_t size = 0;
        ASSERT_EQ(scanConfigImageSize(config, size), RecordStatus::Ok);
        std::vector<uint8_t> image(size);
        ASSERT_EQ(encodeScanConfig(config, image.data(), size), RecordStatus::Ok);

        ScanConfig out{};
        ASSERT_EQ(decodeScanConfig(image.data(), size, out), RecordStatus::Ok);
        EXPECT_EQ(std::memcmp(&out, &config, sizeof out), 0);

        // Peeking the first data byte gives the form.
        uint8_t first = 0xff;
        char* format = tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, image.data(), size, "c", {&first});
        std::free(format);
        EXPECT_EQ(first, config.scanType);

        // One byte short: refused before writing or decoding.
        std::vector<uint8_t> small(size - 1, 0x33);
        EXPECT_EQ(encodeScanConfig(config, small.data(), small.size()),
                  RecordStatus::BufferTooSmall);
        EXPECT_EQ(small, std::vector<uint8_t>(size - 1, 0x33));
        ScanConfig untouched = sectionedConfig();
        EXPECT_EQ(decodeScanConfig(image.data(), size - 1, untouched),
                  RecordStatus::BufferTooSmall);
        EXPECT_EQ(encodeScanConfig(config, nullptr, 512), RecordStatus::MissingPointer);
    }
    ScanConfig out{};
    EXPECT_EQ(decodeScanConfig(nullptr, 155, out), RecordStatus::MissingPointer);

    // A configuration received in a larger buffer (the module sends its size).
    ScanConfig config = sectionedConfig();
    std::vector<uint8_t> buffer(512, 0xcc);
    ASSERT_EQ(encodeScanConfig(config, buffer.data(), buffer.size()), RecordStatus::Ok);
    EXPECT_EQ(buffer[155], 0xcc) << "nothing written past the image";
    EXPECT_EQ(decodeScanConfig(buffer.data(), 512, out), RecordStatus::Ok);
    EXPECT_EQ(out.sectioned.sections[0].numPatterns, 228);
}

TEST(SerialRecords, UndecodableConfigurationsFail) {
    ScanConfig out = sectionedConfig();
    std::vector<uint8_t> garbage(155, 0x41);
    std::string err = stderrOf([&] {
        EXPECT_EQ(decodeScanConfig(garbage.data(), garbage.size(), out),
                  RecordStatus::SerializationFailed);
    });
    EXPECT_EQ(err, "");

    // A calibration image offered as a configuration: its first member is no byte.
    CalibrationCoefficients cal{{1, 2, 3}, {4, 5, 6}};
    std::vector<uint8_t> calImage(72);
    ASSERT_EQ(encodeCalibration(cal, calImage.data(), 72), RecordStatus::Ok);
    err = stderrOf([&] {
        EXPECT_EQ(decodeScanConfig(calImage.data(), 72, out), RecordStatus::SerializationFailed);
    });
    EXPECT_EQ(err, "TPL_DATAPEEK format mismatches tpl iamge\n");

    // Sectioned head followed by a broken section list.
    std::vector<uint8_t> image(155);
    ASSERT_EQ(encodeScanConfig(sectionedConfig(), image.data(), 155), RecordStatus::Ok);
    image[82 + 19] = 4;  // section count 4
    err = stderrOf([&] {
        EXPECT_EQ(decodeScanConfig(image.data(), 155, out), RecordStatus::SerializationFailed);
    });
    EXPECT_EQ(err, "not a valid tpl file\n");
    // A single-form head that claims scanType 2.
    std::vector<uint8_t> single(91);
    ASSERT_EQ(encodeScanConfig(singleConfig(), single.data(), 91), RecordStatus::Ok);
    single[31] = 2;
    std::vector<uint8_t> padded = single;
    padded.resize(155);
    err = stderrOf([&] {
        EXPECT_EQ(decodeScanConfig(padded.data(), 155, out), RecordStatus::SerializationFailed);
    });
    EXPECT_EQ(err, "format signature mismatch\n");
    EXPECT_EQ(out.configIndex, 0x0102) << "a failed decode leaves the record as it was";
}

TEST(SerialRecords, CalibrationDecodeToleratesExcess) {
    CalibrationCoefficients cal{{0.5, -1.25e-3, 3e-7}, {1700.0, -0.9375, 1.5e-5}};
    std::vector<uint8_t> window(144, 0x99);  // the reply payload window
    ASSERT_EQ(encodeCalibration(cal, window.data(), window.size()), RecordStatus::Ok);
    CalibrationCoefficients out{};
    EXPECT_EQ(decodeCalibration(window.data(), window.size(), out), RecordStatus::Ok);
    EXPECT_EQ(std::memcmp(&out, &cal, sizeof cal), 0);
    EXPECT_EQ(decodeCalibration(window.data(), 71, out), RecordStatus::BufferTooSmall);
    EXPECT_EQ(encodeCalibration(cal, window.data(), 71), RecordStatus::BufferTooSmall);
    EXPECT_EQ(decodeCalibration(nullptr, 144, out), RecordStatus::MissingPointer);
    window[5] = 0x7f;  // the length field is not consulted
    EXPECT_EQ(decodeCalibration(window.data(), window.size(), out), RecordStatus::Ok);
}

// Head values shared by both scan data forms.
template <typename Record>
void fillHead(Record& r) {
    r.headerVersion = 1;
    std::strcpy(r.scanName, "scan-0042");
    for (int i = 0; i < 7; ++i) r.hdrBytes7[i] = uint8_t(0x70 + i);
    r.hdrSigned1 = -1234;
    r.hdrSigned2 = 321;
    r.hdrUnsigned1 = 0xbeef;
    r.hdrUnsigned2 = 17;
    r.hdrWord = 0xdeadbeef;
    r.calibration = {{0.25, -0.001, 2e-6}, {1750.5, -1.01, 4e-5}};
    for (int i = 0; i < 8; ++i) r.hdrBytes8[i] = uint8_t(0x80 + i);
    r.sampleCount = 300;
    r.darkPatternFirst = 0;
    r.darkPatternPeriod = 25;
    r.hdrLastByte = 0x5c;
    for (int i = 0; i < kMaxSamples; ++i) r.samples[i] = i * 37 - 9000;
}

// The head's data bytes as written by hand from the values of fillHead.
void headBytes(Bytes& b) {
    b.u32(1).text("scan-0042", 20);
    for (int i = 0; i < 7; ++i) b.u8(uint8_t(0x70 + i));
    b.u16(uint16_t(-1234)).u16(321).u16(0xbeef).u16(17).u32(0xdeadbeef);
    for (double d : {0.25, -0.001, 2e-6, 1750.5, -1.01, 4e-5}) b.f64(d);
    for (int i = 0; i < 8; ++i) b.u8(uint8_t(0x80 + i));
    b.u16(300).u8(0).u8(25).u8(0x5c);
}

void sampleBytes(Bytes& b) {
    for (int i = 0; i < kMaxSamples; ++i) b.u32(uint32_t(i * 37 - 9000));
}

ScanDataWhole wholeRecord() {
    ScanDataWhole w{};
    fillHead(w);
    w.scanType = 1;
    w.configIndex = 9;
    std::strcpy(w.configName, "Hadamard");
    w.wavelengthStartNm = 900;
    w.wavelengthEndNm = 1700;
    w.widthPixels = 6;
    w.numPatterns = 228;
    w.numRepeats = 2;
    return w;
}

ScanDataSplit splitRecord() {
    ScanDataSplit s{};
    fillHead(s);
    s.scanType = 2;
    s.configIndex = 9;
    std::strcpy(s.configName, "two sections");
    s.numRepeats = 2;
    s.numSections = 2;
    s.sections[0] = {0, 6, 900, 1300, 100, 1};
    s.sections[1] = {1, 8, 1300, 1700, 128, 3};
    return s;
}

TEST(SerialRecords, ScanDataImagesAreByteExactAndDecode) {
    static ScanDataWhole whole = wholeRecord();
    Bytes expected;
    expected.header(kWholeFormat, 3701, {20, 3, 3, 8, 8, 40, 864});
    headBytes(expected);
    expected.u8(1).u16(9).text("", 8).text("Hadamard", 40);
    expected.u16(900).u16(1700).u8(6).u16(228).u16(2);
    sampleBytes(expected);
    ASSERT_EQ(expected.size(), 3701u);
    std::vector<uint8_t> image(kScanDataBufferSize, 0xab);
    size_t written = 0;
    ASSERT_EQ(encodeScanDataWhole(whole, image.data(), image.size(), written), RecordStatus::Ok);
    EXPECT_EQ(written, 3701u);
    EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 3701), expected.data());
    EXPECT_EQ(image[3701], 0xab);
    // Decoding gives the record back; it needs all 3701 bytes.
    static ScanDataRecord decoded;
    ASSERT_EQ(decodeScanData(image.data(), image.size(), decoded), RecordStatus::Ok);
    EXPECT_EQ(decoded.form, ScanDataForm::Whole);
    EXPECT_EQ(std::memcmp(&decoded.whole, &whole, sizeof whole), 0);
    std::string err = stderrOf([&] {
        EXPECT_EQ(decodeScanData(image.data(), 3700, decoded), RecordStatus::SerializationFailed);
    });
    EXPECT_EQ(err, "not a valid tpl file\n");

    static ScanDataSplit split = splitRecord();
    Bytes head, config, sections, samples;
    head.header(kHeadFormat, 160, {20, 3, 3, 8});
    headBytes(head);
    config.header("S(cvc#c#vc)", 82, {8, 40}).u8(2).u16(9).text("", 8).text("two sections", 40);
    config.u16(2).u8(2);
    sections.header("S(ccvvvv)#", 73, {5});
    sections.u8(0).u8(6).u16(900).u16(1300).u16(100).u16(1);
    sections.u8(1).u8(8).u16(1300).u16(1700).u16(128).u16(3).text("", 30);
    samples.header("i#", 3471, {864});
    sampleBytes(samples);
    EXPECT_EQ(head.size(), 160u);
    EXPECT_EQ(samples.size(), 3471u);
    Bytes all;
    all.append(head.data()).append(config.data()).append(sections.data()).append(samples.data());
    ASSERT_EQ(encodeScanDataSplit(split, image.data(), image.size(), written), RecordStatus::Ok);
    EXPECT_EQ(written, 3786u);
    EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 3786), all.data());
    // The split form needs all four images inside the given bytes.
    ASSERT_EQ(decodeScanData(image.data(), 3786, decoded), RecordStatus::Ok);
    EXPECT_EQ(decoded.form, ScanDataForm::Split);
    EXPECT_EQ(std::memcmp(&decoded.split, &split, sizeof split), 0);
    EXPECT_EQ(decodeScanData(image.data(), 3785, decoded), RecordStatus::BufferTooSmall);
    EXPECT_EQ(decodeScanData(nullptr, 3822, decoded), RecordStatus::MissingPointer);

    EXPECT_EQ(encodeScanDataWhole(whole, image.data(), 3700, written),
              RecordStatus::BufferTooSmall);
    EXPECT_EQ(encodeScanDataSplit(split, image.data(), 3785, written),
              RecordStatus::BufferTooSmall);
    EXPECT_EQ(encodeScanDataSplit(split, nullptr, 3822, written), RecordStatus::MissingPointer);
}

TEST(SerialRecords, WholeFormHeaderBytesAreNotTrusted) {
    static ScanDataWhole whole = wholeRecord();
    std::vector<uint8_t> image(kScanDataBufferSize);
    size_t written = 0;
    ASSERT_EQ(encodeScanDataWhole(whole, image.data(), image.size(), written), RecordStatus::Ok);
    const std::vector<uint8_t> original = image;

    // Magic, flags and low length byte overwritten: still the whole form.
    image[0] = 'X';
    image[1] = 0;
    image[2] = 0xff;
    image[3] = 0x81;
    image[4] = 0x42;
    static ScanDataRecord record;
    EXPECT_EQ(decodeScanData(image.data(), image.size(), record), RecordStatus::Ok);
    EXPECT_EQ(record.form, ScanDataForm::Whole);
    EXPECT_EQ(std::memcmp(&record.whole, &whole, 109), 0);
    EXPECT_EQ(record.whole.samples[500], whole.samples[500]);
    // The caller's buffer is left as it was.
    EXPECT_EQ(image[0], 'X');

    // A broken format string is still refused.
    image = original;
    image[8 + 10] = 'j';
    std::string err = stderrOf([&] {
        EXPECT_EQ(decodeScanData(image.data(), image.size(), record),
                  RecordStatus::SerializationFailed);
    });
    EXPECT_EQ(err, "format signature mismatch\n");
    // A split-form buffer whose third image is broken.
    static ScanDataSplit split = splitRecord();
    ASSERT_EQ(encodeScanDataSplit(split, image.data(), image.size(), written), RecordStatus::Ok);
    image[160 + 82 + 19] = 6;
    err = stderrOf([&] {
        EXPECT_EQ(decodeScanData(image.data(), image.size(), record),
                  RecordStatus::SerializationFailed);
    });
    EXPECT_EQ(err, "not a valid tpl file\n");
}

}  // namespace
}  // namespace quillon
