// The one reply fuzzer: the first byte of an input picks a target by its
// place, the rest is the reply; `--target=<name>` pins one target and
// ignores the first byte, `--write-seeds=<directory>` writes the seed
// corpora and stops. The sanitizers watch every read, write and
// block; a reply that makes the library read past what arrived, leak, or
// make the heap grow beyond its share (the growth check) is a finding.
#include <rpc/rpc.h>
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "connection/handle.h"
#include "platform/debug_output.h"
#include "support/function_table.h"
#include "support/memory_client.h"
#include "support/sample_replies.h"

namespace qvfuzz {
namespace {

// What the fuzzer sets up once, and the growth check it wraps each input
// in. The library's diagnostics go nowhere, so that a run measures the
// library and not the file system or the syslog. The growth check watches
// the heap while one reply is handled: what the library holds at its peak
// must stay within a fixed multiple of the reply's size (plus an allowance
// for the trace line buffers). A conversion that allocates by a count it
// was told rather than by what arrived, or that copies one text into every
// entry of a long list, fails it long before the process runs out of memory.
inline constexpr std::int64_t kGrowth = 128;
inline constexpr std::int64_t kAllowance = 512 * 1024;

struct Heap {
    static inline std::int64_t live = 0;
    static inline std::int64_t peak = 0;
};

inline void OnMalloc(const volatile void*, std::size_t size) {
    Heap::live += static_cast<std::int64_t>(size);
    if (Heap::live > Heap::peak) Heap::peak = Heap::live;
}

inline void OnFree(const volatile void* block) {
    if (block == nullptr) return;
    Heap::live -=
        static_cast<std::int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(block)));
}

inline void Discard(std::u16string_view, void*) {}

inline void PrepareEnvironment() {
    // No parameters file: the trace writer finds no service directory and
    // writes nothing.
    setenv("QUARVANE_PARAMETERS", "/nonexistent/qvfuzz/parameters.ini", 1);
    qv::debug_output::SetSinkForTesting(Discard, nullptr);
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}

// Fails the input when the heap grew beyond its share while it lived.
class GrowthCheck {
  public:
    explicit GrowthCheck(std::size_t input_size)
        : input_size_(static_cast<std::int64_t>(input_size)), start_(Heap::live) {
        Heap::peak = Heap::live;
    }
    ~GrowthCheck() {
        const std::int64_t grown = Heap::peak - start_;
        if (grown > kGrowth * input_size_ + kAllowance) {
            std::fprintf(stderr, "growth check: a reply of %lld bytes made the heap grow by %lld\n",
                         static_cast<long long>(input_size_), static_cast<long long>(grown));
            std::abort();
        }
    }
    GrowthCheck(const GrowthCheck&) = delete;
    GrowthCheck& operator=(const GrowthCheck&) = delete;

  private:
    std::int64_t input_size_;
    std::int64_t start_;
};


// The targets: every remote function of the table of exported functions
// (its name), "session" (the LOGIN and LOGOUT replies through qvConnect and
// qvDisconnect) and "disk_kinds" (qvGetDiskList in every list kind). Each
// takes the reply bytes and runs the whole road on a client that decodes
// them from memory.
struct Target {
    std::string name;
    void (*run)(std::size_t index, std::span<const uint8_t> reply);
    std::vector<qvtest::Bytes> (*seeds)(std::size_t index);
};

const Target* g_pinned = nullptr;

// The remote functions of the table, called as the tests call them.
void RunFunction(std::size_t index, std::span<const uint8_t> reply) {
    static qvtest::MemoryClient client;
    client.SetReply(reply);
    qvtest::RemoteFunctions()[index](client.handle());
}

// The samples, and the first of them refused by the service (its status
// word set), which takes the function's error path.
std::vector<qvtest::Bytes> ReplySeeds(unsigned proc) {
    std::vector<qvtest::Bytes> seeds = qvtest::SampleReplies(proc);
    if (!seeds.empty() && seeds.front().size() >= 4) {
        qvtest::Bytes refused = seeds.front();
        const uint8_t word[] = {0x6F, 0xFC, 0x00, 0x42};
        std::copy(std::begin(word), std::end(word), refused.begin());
        seeds.push_back(std::move(refused));
    }
    return seeds;
}

std::vector<qvtest::Bytes> FunctionSeeds(std::size_t index) {
    return ReplySeeds(qvtest::RemoteFunctions()[index].row->procedure);
}

// qvConnect creates its own TCP client; this program supplies
// clnttcp_create itself (the definition in the executable wins over the
// runtime's), so the client it gets decodes from memory too. The first
// eight bytes are the LOGIN reply (a token record is always eight bytes),
// the rest the LOGOUT reply.
constexpr std::size_t kLoginReply = 8;
qvtest::MemoryClient* g_next_client = nullptr;

void RunSession(std::size_t, std::span<const uint8_t> input) {
    const auto login = input.first(std::min(input.size(), kLoginReply));
    qvtest::MemoryClient client;  // whoever ends up owning it destroys it once
    client.SetReply(login);
    g_next_client = &client;
    const QV_CONNECT_PARAM params{u"127.0.0.1", 11580, u"admin", u"secret"};
    QV_HANDLE handle = nullptr;
    const QV_STATUS connected = qvConnect(&params, &handle);
    g_next_client = nullptr;
    if (connected != 0) return;
    client.SetReply(input.subspan(login.size()));
    if (qvDisconnect(&handle) != 0) {
        // The handle stays usable after a refused logout; give it up.
        clnt_destroy(qv::GetRpcClient(handle));
        qvFreeHandle(&handle);
    }
}

std::vector<qvtest::Bytes> SessionSeeds(std::size_t) {
    const qvtest::Bytes login = qvtest::SampleReply(LOGIN);
    std::vector<qvtest::Bytes> seeds;
    for (const qvtest::Bytes& logout : ReplySeeds(LOGOUT)) {
        qvtest::Bytes seed = login;
        seed.insert(seed.end(), logout.begin(), logout.end());
        seeds.push_back(std::move(seed));
    }
    return seeds;
}

// The table's ordinary call asks for one list kind; the conversion walks the
// records differently for each, so here the first byte picks the kind, the
// second the number of the object it names, and the rest is the reply.
constexpr uint32_t kKinds[] = {1, 3, 4, 5, 6, 7, 8, 255, 2};  // every kind known, and one not

void RunDiskKinds(std::size_t, std::span<const uint8_t> input) {
    if (input.size() < 2) return;
    static qvtest::MemoryClient client;
    client.SetReply(input.subspan(2));
    const QV_OBJECT_ID object{u"Harddisk0", static_cast<uint32_t>(input[1] % 6)};
    const QV_DISK_FILTER filter{kKinds[input[0] % std::size(kKinds)], 0, 0, &object};
    QV_DISK_LIST list{};
    qvGetDiskList(client.handle(), &filter, &list);
    QV_DISK_LIST* header = &list;
    qvFreeDiskList(&header, 1);
}

std::vector<qvtest::Bytes> DiskKindSeeds(std::size_t) {
    std::vector<qvtest::Bytes> seeds;
    for (uint8_t kind = 0; kind < std::size(kKinds); ++kind) {
        for (uint8_t number = 0; number < 3; ++number) {
            for (const qvtest::Bytes& reply : qvtest::SampleReplies(GET_DISK_LIST)) {
                qvtest::Bytes seed{kind, number};
                seed.insert(seed.end(), reply.begin(), reply.end());
                seeds.push_back(std::move(seed));
            }
        }
    }
    return seeds;
}

// In a fixed order: an input's first byte picks the target by its place.
const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = [] {
        std::vector<Target> out;
        for (const qvtest::RemoteFunction& f : qvtest::RemoteFunctions()) {
            out.push_back({f.name(), RunFunction, FunctionSeeds});
        }
        out.push_back({"session", RunSession, SessionSeeds});
        out.push_back({"disk_kinds", RunDiskKinds, DiskKindSeeds});
        return out;
    }();
    return targets;
}

// Writes seeds/<target>/sample-<n> for every target, one file per sample
// reply behind the target's selector byte, and targets.txt, the names one a
// line, into `directory`. False when a target has no seed (the build fails)
// or a file cannot be written.
namespace fs = std::filesystem;

bool WriteSeeds(const std::string& directory) {
    const fs::path root = directory;
    std::error_code ec;
    fs::create_directories(root, ec);
    std::ofstream names(root / "targets.txt", std::ios::trunc);
    const std::vector<Target>& targets = Targets();
    bool ok = true;
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const fs::path dir = root / "seeds" / targets[t].name;
        fs::remove_all(dir, ec);
        fs::create_directories(dir);
        const std::vector<qvtest::Bytes> seeds = targets[t].seeds(t);
        if (seeds.empty()) {
            std::fprintf(stderr, "--write-seeds: no seed for %s\n", targets[t].name.c_str());
            ok = false;
        }
        for (std::size_t n = 0; n < seeds.size(); ++n) {
            std::ofstream out(dir / ("sample-" + std::to_string(n)), std::ios::binary);
            out.put(static_cast<char>(t));
            out.write(reinterpret_cast<const char*>(seeds[n].data()),
                      static_cast<std::streamsize>(seeds[n].size()));
            ok = ok && out.good();
        }
        names << targets[t].name << '\n';
    }
    return ok && names.good();
}

}  // namespace
}  // namespace qvfuzz

extern "C" CLIENT* clnttcp_create(sockaddr_in*, u_long, u_long, int*, u_int, u_int) {
    return qvfuzz::g_next_client == nullptr ? nullptr : qvfuzz::g_next_client->client();
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    using qvfuzz::Targets;
    for (int i = 1; i < *argc; ++i) {
        const std::string_view arg = (*argv)[i];
        if (arg.starts_with("--write-seeds=")) {
            std::exit(qvfuzz::WriteSeeds(std::string(arg.substr(14))) ? 0 : 1);
        }
        if (arg.starts_with("--target=")) {
            const auto found = std::ranges::find(Targets(), arg.substr(9), &qvfuzz::Target::name);
            if (found == Targets().end()) {
                std::fprintf(stderr, "no fuzz target %s\n", (*argv)[i] + 9);
                std::exit(2);
            }
            qvfuzz::g_pinned = &*found;
        }
    }
    qvfuzz::PrepareEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto& targets = qvfuzz::Targets();
    const qvfuzz::Target& target =
        qvfuzz::g_pinned != nullptr ? *qvfuzz::g_pinned : targets[data[0] % targets.size()];
    const qvfuzz::GrowthCheck growth(size);
    target.run(static_cast<std::size_t>(&target - targets.data()), std::span(data + 1, size - 1));
    return 0;
}
