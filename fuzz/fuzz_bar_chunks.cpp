// The bar store's chunk files on any bytes: a damaged chunk is skipped with a warning, never
// read past its end, and what loads is one row a day per stock, oldest first. The input gets
// its check sum appended, so the fuzzer reaches the reading behind the check.
#include "market/bar_store.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::filesystem::path folder = [] {
        const std::filesystem::path made =
            std::filesystem::temp_directory_path() / ("fuzz_bar_chunks_" + std::to_string(::getpid()));
        std::filesystem::create_directories(made / "bars");
        return made;
    }();
    {
        std::ofstream chunk(folder / "bars" / "00000001.chunk", std::ios::binary | std::ios::trunc);
        const std::string_view bytes(reinterpret_cast<const char*>(data), size);
        const std::uint64_t sum = ChunkCheckSum(bytes);
        char tail[8];
        for (int i = 0; i < 8; ++i)
            tail[i] = static_cast<char>((sum >> (8 * i)) & 0xffu);
        chunk.write(bytes.data(), static_cast<std::streamsize>(size));
        chunk.write(tail, 8);
    }
    std::vector<std::string> warnings;
    for (const auto& [code, days] : LoadRawDays(folder, warnings))
        for (size_t i = 1; i < days.size(); ++i)
            if (!(days[i - 1].Date < days[i].Date))
                std::abort();
    TBarStore(folder, TBarStore::TMode::ReadOnly).Days();
    return 0;
}
