// The header reader against dcmtk's dcmdump, on the files tests/make-dicom-cases.py makes at build
// time: built natively only (dicom/native/), where dcmtk runs. The reader gets what the tool gives
// it, the first kHeaderReadLimit bytes; dcmdump read the whole file.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dicom/header_values.h"

namespace ordovan::dicom {

void PrintTo(const HeaderValues& values, std::ostream* out);  // in dicom_header_test.cpp

namespace {

const std::string kCases = ORDOVAN_DICOM_CASES;
constexpr std::size_t kFewestCases = 300;

struct Case {
    std::string name;
    // "dcmdump", "dcmdump+iconv" (dcmdump's bytes, decoded by iconv where dcmdump cannot),
    // "deflated" (the reader does not inflate) or "error" (dcmdump refused the file).
    std::string source;
    HeaderValues read;  // by dcmdump
};

// UTF-16LE in hex, as the generator writes it.
std::wstring FromHex(const std::string& hex) {
    std::wstring text;
    for (std::size_t at = 0; at + 4 <= hex.size(); at += 4)
        text += static_cast<wchar_t>(
            std::stoul(hex.substr(at + 2, 2) + hex.substr(at, 2), nullptr, 16));
    return text;
}

std::vector<Case> Cases() {
    std::ifstream file(kCases + "/expected.txt");
    std::vector<Case> cases;
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        std::string id, name, birth, study, lost;
        Case c;
        for (std::string* field : {&c.name, &c.source, &id, &name, &birth, &study, &lost})
            std::getline(fields, *field, '\t');
        c.read = {FromHex(id), FromHex(name), FromHex(birth), FromHex(study), lost == "1"};
        cases.push_back(std::move(c));
    }
    // A build that made no files must not pass for one that agrees.
    if (cases.size() < kFewestCases)
        throw std::runtime_error("too few cases in " + kCases + "/expected.txt");
    return cases;
}

std::vector<std::uint8_t> ReadLimitOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(kHeaderReadLimit);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

class DcmdumpAgreement : public testing::TestWithParam<Case> {};

// Every value as dcmdump reads it at the top level (padding trimmed and control characters as
// '?', as the reader shows them), or none where dcmdump read none or the data set is deflated.
TEST_P(DcmdumpAgreement, ReaderReadsWhatDcmdumpReads) {
    const Case& c = GetParam();
    const std::vector<std::uint8_t> bytes = ReadLimitOf(kCases + "/dcm/" + c.name + ".dcm");
    ASSERT_FALSE(bytes.empty());
    if (c.source == "deflated" || c.source == "error")
        EXPECT_EQ(ReadHeaderValues(bytes), std::nullopt);
    else
        EXPECT_EQ(ReadHeaderValues(bytes), c.read);
}

INSTANTIATE_TEST_SUITE_P(Generated, DcmdumpAgreement, testing::ValuesIn(Cases()),
                         [](const auto& row) { return row.param.name; });

}  // namespace
}  // namespace ordovan::dicom
