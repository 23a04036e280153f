// Writes the fuzzers' seed corpora into the build tree: one directory per
// fuzzer, one file per sample reply.
//
//   write_seeds <directory> <fuzzer names...>
//
// The names are the fuzzers the build made: one per function of the table,
// named after it, and the extra ones ("session", "disk_kinds"). A function
// added to the table without its fuzzer, or a fuzzer without seeds, fails
// the build here.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "support/function_table.h"
#include "support/sample_replies.h"

namespace fs = std::filesystem;

namespace {

bool WriteSeed(const fs::path& dir, std::size_t n, const qvtest::Bytes& bytes) {
    std::ofstream out(dir / ("sample-" + std::to_string(n)), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

bool WriteCorpus(const fs::path& dir, const std::vector<qvtest::Bytes>& seeds) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        if (!WriteSeed(dir, i, seeds[i])) return false;
    }
    return true;
}

// The samples, and the first of them refused by the service (its status
// word set), which takes the function's error path.
std::vector<qvtest::Bytes> ReplySeeds(unsigned proc) {
    std::vector<qvtest::Bytes> seeds = qvtest::SampleReplies(proc);
    if (!seeds.empty() && seeds.front().size() >= 4) {
        qvtest::Bytes refused = seeds.front();
        refused[0] = 0x6F;
        refused[1] = 0xFC;
        refused[2] = 0x00;
        refused[3] = 0x42;
        seeds.push_back(std::move(refused));
    }
    return seeds;
}

// The session: a LOGIN reply that opens, then a LOGOUT reply.
std::vector<qvtest::Bytes> SessionSeeds() {
    const qvtest::Bytes login = qvtest::SampleReply(LOGIN);
    std::vector<qvtest::Bytes> seeds;
    for (const qvtest::Bytes& logout : ReplySeeds(LOGOUT)) {
        qvtest::Bytes seed = login;
        seed.insert(seed.end(), logout.begin(), logout.end());
        seeds.push_back(std::move(seed));
    }
    return seeds;
}

// Every disk list sample behind each (kind, object number) selector.
std::vector<qvtest::Bytes> DiskKindSeeds() {
    std::vector<qvtest::Bytes> seeds;
    for (uint8_t kind = 0; kind < 9; ++kind) {
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: write_seeds <directory> <fuzzers...>\n");
        return 2;
    }
    const fs::path root = argv[1];
    std::set<std::string> unseeded(argv + 2, argv + argc);
    const auto write = [&](const std::string& name, const std::vector<qvtest::Bytes>& seeds) {
        if (unseeded.erase(name) == 0) {
            std::fprintf(stderr, "write_seeds: no fuzzer for %s\n", name.c_str());
            return false;
        }
        if (!WriteCorpus(root / name, seeds)) {
            std::fprintf(stderr, "write_seeds: cannot write the seeds of %s\n", name.c_str());
            return false;
        }
        return true;
    };

    bool ok = write("session", SessionSeeds()) && write("disk_kinds", DiskKindSeeds());
    for (const qvtest::RemoteFunction& f : qvtest::RemoteFunctions()) {
        ok = write(f.name, ReplySeeds(f.proc)) && ok;
    }
    for (const std::string& name : unseeded) {
        std::fprintf(stderr, "write_seeds: %s is neither a function of the table nor known\n",
                     name.c_str());
        ok = false;
    }
    return ok ? 0 : 1;
}
