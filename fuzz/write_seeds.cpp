// The seed corpora, written at build time by the fuzzer program itself
// (`qv_fuzz --write-seeds=<directory>`) from tests/support/sample_replies.cpp:
// one directory per target, one file per sample reply, each behind the
// target's selector byte. A target without seeds fails the build here.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "targets.h"

namespace fs = std::filesystem;

namespace qvfuzz {

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
            std::fprintf(stderr, "write_seeds: no seed for %s\n", targets[t].name.c_str());
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

}  // namespace qvfuzz
