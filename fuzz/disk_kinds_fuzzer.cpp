// qvGetDiskList in every list kind. The function table's row asks for one
// kind only; the conversion walks the records differently for each, so
// here the first byte of the input picks the kind, the second the number
// of the object it names, and the rest is the reply.
#include <array>
#include <cstdint>
#include <span>

#include "fuzz_environment.h"
#include "support/memory_client.h"

namespace {

// Every kind the library knows, and one it does not.
constexpr std::array<uint32_t, 9> kKinds = {1, 3, 4, 5, 6, 7, 8, 255, 2};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qvfuzz::PrepareEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static qvtest::MemoryClient client;
    const qvfuzz::GrowthCheck growth(size);
    client.SetReply(std::span(data + 2, size - 2));

    const QV_OBJECT_ID object{u"Harddisk0", static_cast<uint32_t>(data[1] % 6)};
    const QV_DISK_FILTER filter{kKinds[data[0] % kKinds.size()], 0, 0, &object};
    QV_DISK_LIST list{};
    qvGetDiskList(client.handle(), &filter, &list);
    QV_DISK_LIST* header = &list;
    qvFreeDiskList(&header, 1);
    return 0;
}
