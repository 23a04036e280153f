#include "disks/disk_conversion.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "connection/rpc_call.h"
#include "platform/alloc.h"

namespace qv::disks {
namespace {

// Room for the composed texts, terminator included. Longer texts are cut.
constexpr std::size_t kDiskNameRoom = 64;
constexpr std::size_t kPartitionNameRoom = 128;
constexpr std::size_t kLettersRoom = 512;

constexpr uint32_t kHighFlag = 0x80000000u;

// A received text with no elements at all (as opposed to an empty one).
bool NoElements(const RpcWString& s) noexcept {
    return s.RpcWString_len == 0 || s.RpcWString_val == nullptr;
}

// A text put together in a fixed room: texts and numbers appended in turn,
// whatever does not fit cut off. Every entry of a list gets a display name
// made so, directly rather than through the printf-style formatter, which
// would parse the same few patterns again for each entry.
template <std::size_t Room>
class TextBuilder {
  public:
    TextBuilder& operator<<(std::u16string_view text) noexcept {
        const std::size_t n = std::min(text.size(), Room - 1 - used_);
        std::copy_n(text.begin(), n, room_.begin() + used_);
        used_ += n;
        return *this;
    }
    // Numbers are printed signed, as the service's own tools show them.
    TextBuilder& operator<<(uint32_t number) noexcept {
        const auto value = static_cast<int32_t>(number);
        uint32_t magnitude = value < 0 ? 0u - number : number;
        std::array<char16_t, 11> digits;
        std::size_t first = digits.size();
        do {
            digits[--first] = static_cast<char16_t>(u'0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) digits[--first] = u'-';
        return *this << std::u16string_view(digits.data() + first, digits.size() - first);
    }
    std::u16string_view Text() const noexcept { return {room_.data(), used_}; }
    bool Full() const noexcept { return used_ == Room - 1; }

  private:
    std::array<char16_t, Room> room_;
    std::size_t used_ = 0;
};

// A received text as read: its units up to the terminator, and whether it
// had any elements at all.
struct ReadText {
    std::u16string_view units;
    bool present = false;
};
ReadText Read(const RpcWString& s) noexcept { return {WireText(s), !NoElements(s)}; }

// What every entry of a disk takes from its record, read once per disk: a
// disk of many partitions gives as many entries, each with copies of the
// same texts.
struct DiskTexts {
    const RpcDiskRecord* disk = nullptr;
    std::u16string_view name, text1, text2;
    const RpcDiskProperties* properties = nullptr;  // the first, if any
    std::array<ReadText, 2> property_texts;
    const RpcDiskDescriptor* descriptor = nullptr;  // the first, if any
    std::array<ReadText, 4> descriptor_texts;
    TextBuilder<kPartitionNameRoom> partition_prefix;  // "Disk 1 Partition "

    void ReadFrom(const RpcDiskRecord& d) noexcept {
        *this = DiskTexts{};
        disk = &d;
        name = WireText(d.Name);
        text1 = WireText(d.Text1);
        text2 = WireText(d.Text2);
        if (d.Properties.Properties_len != 0 && d.Properties.Properties_val != nullptr) {
            properties = &d.Properties.Properties_val[0];
            property_texts = {Read(properties->Text1), Read(properties->Text2)};
        }
        if (d.Descriptors.Descriptors_len != 0 && d.Descriptors.Descriptors_val != nullptr) {
            descriptor = &d.Descriptors.Descriptors_val[0];
            descriptor_texts = {Read(descriptor->Text1), Read(descriptor->Text2),
                                Read(descriptor->Text3), Read(descriptor->Text4)};
        }
        partition_prefix << u"Disk " << d.Number << u" Partition ";
    }
};

// Heap copy of a text; false when the heap says no.
bool Keep(QV_WCHAR*& out, std::u16string_view text) noexcept {
    out = DupString(text);
    return out != nullptr;
}
// Null for a text that had no elements, a copy otherwise.
bool KeepOptional(QV_WCHAR*& out, const ReadText& text) noexcept {
    if (!text.present) {
        out = nullptr;
        return true;
    }
    return Keep(out, text.units);
}

uint32_t PropertiesMode(uint32_t mask) noexcept {
    if ((mask & 0x1u) != 0) return 1;
    if ((mask & 0x2u) != 0) return 2;
    if ((mask & 0x4u) != 0) return 3;
    return 0;
}

bool FillProperties(const DiskTexts& texts, QV_DISK_PROPERTIES& out) noexcept {
    if (texts.properties == nullptr) return true;
    const RpcDiskProperties& p = *texts.properties;
    out.Value0 = p.P6;
    out.Value1 = p.P0;
    out.Value2 = p.P2;
    out.Value3 = p.P1;
    out.Value4 = p.P3;
    out.Value5 = p.P4;
    out.Mode = PropertiesMode(p.P5);
    return KeepOptional(out.Text1, texts.property_texts[0]) &&
           KeepOptional(out.Text2, texts.property_texts[1]);
}

bool FillDescriptor(const DiskTexts& texts, QV_DISK_DESCRIPTOR& out) noexcept {
    if (texts.descriptor == nullptr) return true;
    const RpcDiskDescriptor& d = *texts.descriptor;
    out.Value = d.Value;
    out.Value64 = static_cast<int64_t>(d.Value64);
    const auto& t = texts.descriptor_texts;
    return KeepOptional(out.Text1, t[0]) && KeepOptional(out.Text2, t[1]) &&
           KeepOptional(out.Text3, t[2]) && KeepOptional(out.Text4, t[3]);
}

// The fields both kinds of entry take from the disk record.
bool FillDiskPart(const DiskTexts& texts, QV_DISK_INFO& e) noexcept {
    const RpcDiskRecord& disk = *texts.disk;
    e.DiskNumber = disk.Number;
    e.DiskAttribute1 = disk.Attribute1;
    e.DiskAttribute2 = disk.Attribute2;
    e.HighFlag = (disk.Flags & kHighFlag) != 0 ? 1 : 0;
    e.DiskAttribute4 = disk.Attribute4;
    if (!Keep(e.DiskName, texts.name) || !Keep(e.DiskText1, texts.text1) ||
        !Keep(e.DiskText2, texts.text2)) {
        return false;
    }
    return FillProperties(texts, e.Properties) && FillDescriptor(texts, e.Descriptor);
}

enum class Step { kGo, kStop };

// Walks the entries `shape` makes, in list order: visit(disk, partition) for
// a partition entry, visit(disk, nullptr) for a disk entry and
// visit(nullptr, nullptr) for the all-zero entry of a partition that is not
// there. Stops as soon as visit says so.
template <typename Visit>
void WalkEntries(std::span<const RpcDiskRecord> disks, DiskListShape shape, uint32_t wanted,
                 Visit&& visit) noexcept {
    const auto partitions_of = [&](const RpcDiskRecord& disk, bool filtered) {
        for (const RpcPartitionRecord& p : PartitionRecords(disk)) {
            if (filtered && p.Excluded != 0) continue;
            if (visit(&disk, &p) == Step::kStop) return Step::kStop;
        }
        return Step::kGo;
    };

    switch (shape) {
        case DiskListShape::kNone:
            return;
        case DiskListShape::kOneDisk:
            if (!disks.empty()) visit(&disks.front(), nullptr);
            return;
        case DiskListShape::kOnePartition: {
            if (disks.empty()) return;
            const auto parts = PartitionRecords(disks.front());
            const auto match = std::ranges::find(parts, wanted, &RpcPartitionRecord::Number);
            if (match == parts.end()) {
                visit(nullptr, nullptr);
            } else {
                visit(&disks.front(), &*match);
            }
            return;
        }
        case DiskListShape::kDisks:
        case DiskListShape::kEvery:
        case DiskListShape::kFiltered:
        case DiskListShape::kPartitions:
            break;
    }

    const bool filtered = shape == DiskListShape::kFiltered;
    for (const RpcDiskRecord& disk : disks) {
        if (filtered && disk.Excluded != 0) continue;
        const bool disk_entry = shape == DiskListShape::kDisks || shape == DiskListShape::kEvery ||
                                (filtered && disk.DiskEntryExcluded == 0);
        if (disk_entry && visit(&disk, nullptr) == Step::kStop) return;
        if (shape == DiskListShape::kDisks || !PartitionsListed(disk)) continue;
        if (partitions_of(disk, filtered) == Step::kStop) return;
    }
}

}  // namespace

std::span<const RpcDiskRecord> DiskRecords(const RpcDiskList& list) noexcept {
    if (list.Disks.Disks_val == nullptr) return {};
    return {list.Disks.Disks_val, list.Disks.Disks_len};
}

std::span<const RpcPartitionRecord> PartitionRecords(const RpcDiskRecord& disk) noexcept {
    if (disk.Partitions.Partitions_val == nullptr) return {};
    return {disk.Partitions.Partitions_val, disk.Partitions.Partitions_len};
}

bool PartitionsListed(const RpcDiskRecord& disk) noexcept {
    return std::ranges::none_of(PartitionRecords(disk), [](const RpcPartitionRecord& p) {
        return p.Type == kDynamicPartitionType;
    });
}

std::size_t CountDiskEntries(std::span<const RpcDiskRecord> disks, DiskListShape shape,
                             uint32_t partition) noexcept {
    std::size_t count = 0;
    WalkEntries(disks, shape, partition, [&](const RpcDiskRecord*, const RpcPartitionRecord*) {
        ++count;
        return Step::kGo;
    });
    return count;
}

namespace {

std::size_t Add(std::size_t a, std::size_t b) noexcept {
    return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

// Bytes of a received text's copy, terminator included.
std::size_t TextBytes(const RpcWString& s) noexcept {
    return (static_cast<std::size_t>(s.RpcWString_len) + 1) * sizeof(char16_t);
}

template <typename T>
std::span<const T> Elements(u_int count, const T* values) noexcept {
    return values == nullptr ? std::span<const T>{} : std::span<const T>(values, count);
}

// The texts every entry of a disk copies from its record.
std::size_t DiskTextBytes(const RpcDiskRecord& disk) noexcept {
    std::size_t bytes = TextBytes(disk.Name) + TextBytes(disk.Text1) + TextBytes(disk.Text2);
    if (disk.Properties.Properties_len != 0 && disk.Properties.Properties_val != nullptr) {
        const RpcDiskProperties& p = disk.Properties.Properties_val[0];
        bytes += TextBytes(p.Text1) + TextBytes(p.Text2);
    }
    if (disk.Descriptors.Descriptors_len != 0 && disk.Descriptors.Descriptors_val != nullptr) {
        const RpcDiskDescriptor& d = disk.Descriptors.Descriptors_val[0];
        bytes += TextBytes(d.Text1) + TextBytes(d.Text2) + TextBytes(d.Text3) + TextBytes(d.Text4);
    }
    return bytes;
}

}  // namespace

std::size_t ConvertedBytes(std::span<const RpcDiskRecord> disks, DiskListShape shape,
                           uint32_t partition) noexcept {
    std::size_t bytes = 0;
    // Every entry of a disk copies the same texts: counted once per disk.
    const RpcDiskRecord* counted = nullptr;
    std::size_t disk_text_bytes = 0;
    WalkEntries(disks, shape, partition,
                [&](const RpcDiskRecord* disk, const RpcPartitionRecord* part) {
                    std::size_t entry = sizeof(QV_DISK_INFO);
                    if (disk != nullptr && disk != counted) {
                        counted = disk;
                        disk_text_bytes = DiskTextBytes(*disk);
                    }
                    if (disk != nullptr) entry = Add(entry, disk_text_bytes);
                    if (part != nullptr) {
                        entry = Add(entry, TextBytes(part->Letters) + TextBytes(part->Label) +
                                               kPartitionNameRoom * sizeof(char16_t));
                    } else if (disk != nullptr) {
                        entry = Add(entry, (kDiskNameRoom + kLettersRoom + 1) * sizeof(char16_t));
                    }
                    bytes = Add(bytes, entry);
                    return bytes == SIZE_MAX ? Step::kStop : Step::kGo;
                });
    return bytes;
}

namespace {

// XDR words of a record's fixed fields and array counts, as quarvane.x
// declares them: numbers, counts and code units take one word, a hyper two.
constexpr std::size_t kWord = 4;
constexpr std::size_t kDiskWords = 12 + 3;  // numbers; Partitions, Properties, Descriptors counts
constexpr std::size_t kPartitionWords = 10;
constexpr std::size_t kPropertiesWords = 7;
constexpr std::size_t kDescriptorWords = 1 + 2;

std::size_t WireTextBytes(const RpcWString& s) noexcept {
    return kWord * (1 + static_cast<std::size_t>(s.RpcWString_len));
}

}  // namespace

bool FitsGrowth(std::span<const RpcDiskRecord> disks, std::span<const RpcDiskRecord> received,
                DiskListShape shape, uint32_t partition) noexcept {
    return ConvertedBytes(disks, shape, partition) / kMaxGrowth <= WireBytes(received);
}

std::size_t WireBytes(std::span<const RpcDiskRecord> disks) noexcept {
    std::size_t bytes = 0;
    for (const RpcDiskRecord& d : disks) {
        bytes += kWord * kDiskWords + WireTextBytes(d.Name) + WireTextBytes(d.Text0) +
                 WireTextBytes(d.Text1) + WireTextBytes(d.Text2);
        for (const RpcPartitionRecord& p : PartitionRecords(d)) {
            bytes += kWord * kPartitionWords + WireTextBytes(p.Letters) + WireTextBytes(p.Label);
        }
        for (const RpcDiskProperties& p :
             Elements(d.Properties.Properties_len, d.Properties.Properties_val)) {
            bytes += kWord * kPropertiesWords + WireTextBytes(p.Text1) + WireTextBytes(p.Text2);
        }
        for (const RpcDiskDescriptor& x :
             Elements(d.Descriptors.Descriptors_len, d.Descriptors.Descriptors_val)) {
            bytes += kWord * kDescriptorWords + WireTextBytes(x.Text1) + WireTextBytes(x.Text2) +
                     WireTextBytes(x.Text3) + WireTextBytes(x.Text4);
        }
    }
    return bytes;
}

namespace {

bool FillDiskEntry(const DiskTexts& texts, QV_DISK_INFO& e) noexcept {
    const RpcDiskRecord& disk = *texts.disk;
    e.PartitionNumber = 0;
    e.DiskMarked = disk.Marker != 0 ? 1 : 0;
    e.Attribute = disk.Attribute;
    e.DiskAttribute3 = disk.Attribute3;
    e.PartitionAttribute = 0;
    e.Size = disk.Size;
    e.Measure = disk.Measure;
    if (!FillDiskPart(texts, e)) return false;

    TextBuilder<kDiskNameRoom> name;
    name << u"Disk " << disk.Number;

    // One pass over the partitions, however many there are: their used
    // sizes summed, whether one is a dynamic-disk partition, and their
    // letters in record order without a separator.
    TextBuilder<kLettersRoom> letters;
    bool dynamic = false;
    e.UsedSize = 0;
    for (const RpcPartitionRecord& p : PartitionRecords(disk)) {
        e.UsedSize += p.UsedSize;
        dynamic = dynamic || p.Type == kDynamicPartitionType;
        if (!letters.Full()) letters << WireText(p.Letters);
    }
    e.PartitionType = dynamic ? kDynamicPartitionType : 0;

    return Keep(e.DisplayName, name.Text()) && Keep(e.Letters, letters.Text()) &&
           Keep(e.Label, u"");
}

bool FillPartitionEntry(const DiskTexts& texts, const RpcPartitionRecord& p,
                        QV_DISK_INFO& e) noexcept {
    e.PartitionNumber = p.Number;
    e.DiskMarked = 0;
    e.Attribute = p.Attribute;
    e.DiskAttribute3 = 0;
    e.PartitionAttribute = p.Attribute2;
    e.PartitionType = p.Type;
    e.Size = p.Size;
    e.UsedSize = p.UsedSize;
    e.Measure = p.Measure;
    if (!FillDiskPart(texts, e)) return false;

    // "Disk 1 Partition 2", then " - Label (E:)" or " - (E:)" when the
    // partition has letters.
    const std::u16string_view letters = WireText(p.Letters);
    const std::u16string_view label = WireText(p.Label);
    TextBuilder<kPartitionNameRoom> name;
    name << texts.partition_prefix.Text() << p.Number;
    if (!letters.empty()) {
        name << u" - ";
        if (!label.empty()) name << label << u" ";
        name << u"(" << letters << u")";
    }

    // The texts read once for the name are copied as read.
    if (!Keep(e.DisplayName, name.Text()) || !Keep(e.Letters, letters)) return false;
    return NoElements(p.Label) || Keep(e.Label, label);
}

}  // namespace

bool ConvertDisks(std::span<const RpcDiskRecord> disks, DiskListShape shape, uint32_t partition,
                  std::span<QV_DISK_INFO> entries) noexcept {
    std::size_t next = 0;
    bool ok = true;
    DiskTexts texts;
    WalkEntries(disks, shape, partition,
                [&](const RpcDiskRecord* disk, const RpcPartitionRecord* part) {
                    if (next == entries.size()) return Step::kStop;
                    QV_DISK_INFO& entry = entries[next++];
                    if (disk == nullptr) return Step::kGo;  // stays all zero
                    if (texts.disk != disk) texts.ReadFrom(*disk);
                    ok = part == nullptr ? FillDiskEntry(texts, entry)
                                         : FillPartitionEntry(texts, *part, entry);
                    return ok ? Step::kGo : Step::kStop;
                });
    return ok;
}

void ReleaseDiskEntry(QV_DISK_INFO& e) noexcept {
    for (QV_WCHAR** text :
         {&e.DiskName, &e.DisplayName, &e.DiskText1, &e.Letters, &e.Label, &e.DiskText2,
          &e.Properties.Text1, &e.Properties.Text2, &e.Descriptor.Text1, &e.Descriptor.Text2,
          &e.Descriptor.Text3, &e.Descriptor.Text4}) {
        if (*text != nullptr) {
            Free(*text);
            *text = nullptr;
        }
    }
}

void ReleaseDiskEntries(std::span<QV_DISK_INFO> entries) noexcept {
    for (QV_DISK_INFO& e : entries) ReleaseDiskEntry(e);
}

}  // namespace qv::disks
