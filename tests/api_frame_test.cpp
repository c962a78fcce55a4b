// The frame every host meets first: failure texts, fixed tables, the log switch
// and the dated log file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>

#include "core/errors.h"
#include "core/session.h"
#include "log/log_writer.h"
#include "quillonlib.h"
#include "support/scratch_dir.h"

using quillon::test::readFile;
using quillon::test::ScratchDir;

namespace {

TEST(Frame, FailureTextsCoverTheTableAndUnknownCodes) {
    const std::pair<int, const char*> table[] = {
        {0, "no error"},
        {101001, "Input/output error"},
        {101002, "Invalid parameter"},
        {101003, "Access denied (insufficient permissions)"},
        {101004, "No such device (it may have been disconnected)"},
        {101005, "Entity not found"},
        {101006, "Resource busy"},
        {101007, "Operation timed out"},
        {101008, "Overflow"},
        {101009, "Pipe error"},
        {101010, "System call interrupted (perhaps due to signal)"},
        {101011, "USB insufficient memory"},
        {101012, "Operation not supported or unimplemented on this platform"},
        {102001, "device index error"},
        {102002, "device not found"},
        {102003, "device handle error"},
        {102004, "device pointer error"},
        {102005, "device param[in] error"},
        {102006, "device param[out] error"},
        {102007, "device return error"},
        {102008, "NIR insufficient memory"},
    };
    for (const auto& [code, text] : table) {
        quillon::lastErrorCode = code;
        EXPECT_STREQ(getLastException(), text) << code;
        EXPECT_EQ(quillon::lastErrorCode, code) << "reading the text must not change the code";
    }
    for (int code : {1, -1, 101000, 101013, 102000, 102009}) {
        quillon::lastErrorCode = code;
        EXPECT_STREQ(getLastException(), "unknow") << code;
    }
    quillon::lastErrorCode = 0;
}

TEST(Frame, FixedTables) {
    EXPECT_EQ(getScanTypesNumber(), 2);
    EXPECT_STREQ(getScanTypesName(0), "Column");
    EXPECT_STREQ(getScanTypesName(1), "Hadamard");
    EXPECT_EQ(getScanTypesName(2), nullptr);
    EXPECT_EQ(getScanTypesName(-1), nullptr);

    ASSERT_EQ(getWidthPixelsNumber(), 51u);
    const double widths[51] = {
        2.34,  3.51,  4.68,  5.85,  7.03,  8.20,  9.37,  10.54, 11.71, 12.88, 14.05, 15.22, 16.39,
        17.56, 18.74, 19.91, 21.08, 22.25, 23.42, 24.59, 25.76, 26.93, 28.10, 29.27, 30.44, 31.62,
        32.79, 33.96, 35.13, 36.30, 37.47, 38.64, 39.81, 40.98, 42.15, 43.33, 44.50, 45.67, 46.84,
        48.01, 49.18, 50.35, 51.52, 52.69, 53.86, 55.04, 56.21, 57.38, 58.55, 59.72, 60.89};
    for (int i = 0; i < 51; ++i) EXPECT_DOUBLE_EQ(getWidthPixel(i), widths[i]) << i;
    EXPECT_EQ(getWidthPixel(51), 0.0);
    EXPECT_EQ(getWidthPixel(-1), 0.0);

    ASSERT_EQ(getExposureTimesNumber(), 7u);
    const double times[7] = {0.635, 1.27, 2.54, 5.08, 15.24, 30.48, 60.96};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(getExposureTime(i), times[i]) << i;
    EXPECT_EQ(getExposureTime(7), 0.0);
    EXPECT_EQ(getExposureTime(-1), 0.0);

    quillon::lastErrorCode = quillon::kParamInError;
    unsigned int minimum = 0, maximum = 0;
    EXPECT_EQ(getPatternsRange(&minimum, &maximum), 0);
    EXPECT_EQ(minimum, 2u);
    EXPECT_EQ(maximum, 624u);
    EXPECT_STREQ(getLastException(), "no error");
}

// The log file is named after the hour of its first record and each record is
// a separator, a tag line with time and operation, and the message.
TEST(Frame, LogRecordsGoToTheDatedFileOnlyWhileSwitchedOn) {
    ScratchDir dir;
    quillon::destroySession();  // the log file opens in this directory
    setLogSwitch(0);
    getWidthPixel(3);
    getPatternsRange(nullptr, nullptr);
    EXPECT_EQ(dir.only_file(), "") << "no file while logging is off";

    setLogSwitch(7);
    unsigned int lo, hi;
    getPatternsRange(&lo, &hi);
    getWidthPixel(99);  // out of range still logs and stores 0
    setLogSwitch(-1);
    getExposureTime(0);
    setLogSwitch(1);
    getExposureTime(0);
    setLogSwitch(0);

    std::string file = dir.only_file();
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(std::regex_search(file, std::regex(R"(/\d{4}-\d{2}-\d{2}-\d{2}\.log$)"))) << file;
    std::string text = readFile(file);
    const std::string sep(70, '-');
    std::regex record(
        sep + R"(\n\[DEBUG\] <\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}> \[(\w+):\d+\]\n([^\n]*)\n)");
    std::vector<std::pair<std::string, std::string>> records;
    for (std::sregex_iterator it(text.begin(), text.end(), record), end; it != end; ++it)
        records.emplace_back((*it)[1], (*it)[2]);
    ASSERT_EQ(records.size(), 3u) << text;
    EXPECT_EQ(records[0], std::make_pair(std::string("getPatternsNumRange"),
                                         std::string("Get patterns number range success")));
    EXPECT_EQ(records[1], std::make_pair(std::string("getWidthPixels"),
                                         std::string("Get width pixels success")));
    EXPECT_EQ(records[2], std::make_pair(std::string("getExposureTimes"),
                                         std::string("Get exposure times success")));
    quillon::destroySession();
}

TEST(LogWriter, TagsAppendCutAndDroppedRecords) {
    ScratchDir dir;
    {
        quillon::LogWriter writer("a.log");
        EXPECT_TRUE(writer.writeRecord("op", 12, quillon::LOG_ERROR, "bad"));
        EXPECT_TRUE(writer.writeRecord("op", 13, quillon::INFO, "fine"));
        EXPECT_FALSE(writer.writeRecord("op", 14, quillon::LOG_TRACE, "below threshold"));
        EXPECT_FALSE(writer.writeRecord("op", 15, quillon::LOG_WARN, "unsupported level"));
    }
    {
        quillon::LogWriter again("a.log");  // a second writer appends
        EXPECT_TRUE(again.writeRecord("op", 16, quillon::LOG_DEBUG, std::string(2000, 'x')));
    }
    std::string text = readFile("a.log");
    EXPECT_NE(text.find("[ERROR] <"), std::string::npos);
    EXPECT_NE(text.find("> [op:12]\nbad\n"), std::string::npos);
    EXPECT_NE(text.find("[INFO] <"), std::string::npos);
    EXPECT_EQ(text.find("below threshold"), std::string::npos);
    EXPECT_EQ(text.find("unsupported level"), std::string::npos);
    // The text after the tag is cut at 1023 characters.
    size_t tag = text.rfind("[DEBUG] ");
    ASSERT_NE(tag, std::string::npos);
    std::string tail = text.substr(tag + 8);
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.size(), 1023u + 1u) << "1023 characters and the record's newline";
}

TEST(Frame, UnopenableLogFileChangesNoResult) {
    ScratchDir dir;
    quillon::destroySession();
    // A directory where the log file should be: opening fails even for root.
    ASSERT_EQ(mkdir(quillon::LogWriter::dailyFileName().c_str(), 0700), 0);
    testing::internal::CaptureStderr();
    setLogSwitch(1);
    quillon::lastErrorCode = quillon::kDeviceReturnError;
    unsigned int lo = 0, hi = 0;
    EXPECT_EQ(getPatternsRange(&lo, &hi), 0);
    EXPECT_EQ(hi, 624u);
    EXPECT_STREQ(getLastException(), "no error");
    EXPECT_EQ(getWidthPixelsNumber(), 51u);
    setLogSwitch(0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Logfile create failed, please check the logfile's name and path."),
              std::string::npos);
    quillon::destroySession();
}

}  // namespace
