#include "simulator/dicom_writer.h"

#include <string_view>

namespace ordovan::simulator {
namespace {

constexpr std::size_t kPreambleLength = 128;
constexpr std::string_view kMagic = "DICM";
constexpr std::string_view kSecondaryCaptureClass = "1.2.840.10008.5.1.4.1.1.7";
constexpr std::string_view kExplicitLittleEndian = "1.2.840.10008.1.2.1";
constexpr std::string_view kImplementationClass = "2.25.190427315482116537621208907712473018815";
constexpr std::uint16_t kSamplesPerPixel = 1;
constexpr std::uint16_t kBitsAllocated = 8;
constexpr std::uint16_t kBitsStored = 8;
constexpr std::uint16_t kHighBit = 7;
constexpr std::uint16_t kUnsignedPixels = 0;

// The component after the root tells study, series and image UIDs of equal numbers apart.
enum class UidKind { Study = 1, Series = 2, Image = 3 };

using Bytes = std::vector<std::uint8_t>;

void Append16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFFU));
    out.push_back(static_cast<std::uint8_t>(value >> 8U));
}

void Append32(Bytes& out, std::uint32_t value) {
    Append16(out, static_cast<std::uint16_t>(value & 0xFFFFU));
    Append16(out, static_cast<std::uint16_t>(value >> 16U));
}

// Binary VRs with a 4-byte length after two reserved bytes; all others have a 2-byte length.
bool HasLongLength(std::string_view vr) {
    return vr == "OB" || vr == "OW" || vr == "UN" || vr == "SQ" || vr == "UT";
}

void AppendElement(Bytes& out, std::uint16_t group, std::uint16_t element, std::string_view vr,
                   const Bytes& value) {
    Append16(out, group);
    Append16(out, element);
    out.insert(out.end(), vr.begin(), vr.end());
    if (HasLongLength(vr)) {
        Append16(out, 0);
        Append32(out, static_cast<std::uint32_t>(value.size()));
    } else {
        Append16(out, static_cast<std::uint16_t>(value.size()));
    }
    out.insert(out.end(), value.begin(), value.end());
}

// Values have even length: UIDs are padded with NUL, other text with a space.
void AppendText(Bytes& out, std::uint16_t group, std::uint16_t element, std::string_view vr,
                std::string_view text) {
    Bytes value(text.begin(), text.end());
    if (value.size() % 2 != 0)
        value.push_back(vr == "UI" ? '\0' : ' ');
    AppendElement(out, group, element, vr, value);
}

void AppendShort(Bytes& out, std::uint16_t group, std::uint16_t element, std::uint16_t number) {
    Bytes value;
    Append16(value, number);
    AppendElement(out, group, element, "US", value);
}

std::string Uid(const ImageIdentity& id, UidKind kind) {
    std::string uid = id.uidRoot;
    uid.append(".").append(std::to_string(static_cast<int>(kind)));
    uid.append(".").append(std::to_string(id.patient));
    if (kind != UidKind::Study)
        uid.append(".").append(std::to_string(id.series));
    if (kind == UidKind::Image)
        uid.append(".").append(std::to_string(id.image));
    return uid;
}

// A pseudo-random picture seeded by the image's place, so that every image of a run differs and
// a rerun writes the same pixels again.
Bytes Pixels(const ImageIdentity& id) {
    const auto place = [](int number) { return static_cast<std::uint32_t>(number); };
    std::uint32_t state =
        0x9E3779B9U ^ (place(id.patient) * 1000003U + place(id.series) * 1009U + place(id.image));
    Bytes pixels(std::size_t{kImageRows} * kImageColumns);
    for (std::uint8_t& pixel : pixels) {
        state ^= state << 13U;
        state ^= state >> 17U;
        state ^= state << 5U;
        pixel = static_cast<std::uint8_t>(state >> 24U);
    }
    return pixels;
}

Bytes FileMetaInformation(const std::string& instanceUid) {
    Bytes group;
    AppendElement(group, 0x0002, 0x0001, "OB", Bytes{0x00, 0x01});
    AppendText(group, 0x0002, 0x0002, "UI", kSecondaryCaptureClass);
    AppendText(group, 0x0002, 0x0003, "UI", instanceUid);
    AppendText(group, 0x0002, 0x0010, "UI", kExplicitLittleEndian);
    AppendText(group, 0x0002, 0x0012, "UI", kImplementationClass);
    Bytes length;
    Append32(length, static_cast<std::uint32_t>(group.size()));
    Bytes meta;
    AppendElement(meta, 0x0002, 0x0000, "UL", length);
    meta.insert(meta.end(), group.begin(), group.end());
    return meta;
}

Bytes DataSet(const ImageIdentity& id, const std::string& instanceUid) {
    const std::string patient = std::to_string(id.patient);
    Bytes set;
    AppendText(set, 0x0008, 0x0016, "UI", kSecondaryCaptureClass);
    AppendText(set, 0x0008, 0x0018, "UI", instanceUid);
    AppendText(set, 0x0008, 0x0060, "CS", "OT");
    AppendText(set, 0x0008, 0x0064, "CS", "WSD");
    AppendText(set, 0x0010, 0x0010, "PN", "Test^Patient" + patient);
    AppendText(set, 0x0010, 0x0020, "LO", "SIM" + patient);
    AppendText(set, 0x0020, 0x000D, "UI", Uid(id, UidKind::Study));
    AppendText(set, 0x0020, 0x000E, "UI", Uid(id, UidKind::Series));
    AppendText(set, 0x0020, 0x0013, "IS", std::to_string(id.image));
    AppendShort(set, 0x0028, 0x0002, kSamplesPerPixel);
    AppendText(set, 0x0028, 0x0004, "CS", "MONOCHROME2");
    AppendShort(set, 0x0028, 0x0010, kImageRows);
    AppendShort(set, 0x0028, 0x0011, kImageColumns);
    AppendShort(set, 0x0028, 0x0100, kBitsAllocated);
    AppendShort(set, 0x0028, 0x0101, kBitsStored);
    AppendShort(set, 0x0028, 0x0102, kHighBit);
    AppendShort(set, 0x0028, 0x0103, kUnsignedPixels);
    AppendElement(set, 0x7FE0, 0x0010, "OB", Pixels(id));
    return set;
}

}  // namespace

std::vector<std::uint8_t> DicomImage(const ImageIdentity& identity) {
    const std::string instanceUid = Uid(identity, UidKind::Image);
    const Bytes meta = FileMetaInformation(instanceUid);
    const Bytes set = DataSet(identity, instanceUid);
    Bytes file;
    file.reserve(kPreambleLength + kMagic.size() + meta.size() + set.size());
    file.resize(kPreambleLength);
    file.insert(file.end(), kMagic.begin(), kMagic.end());
    file.insert(file.end(), meta.begin(), meta.end());
    file.insert(file.end(), set.begin(), set.end());
    return file;
}

}  // namespace ordovan::simulator
