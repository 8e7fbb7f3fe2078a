// The .xlsx path of the listed-issues reader on large inputs: the bytes become the parts of an
// archive (the worksheet, the shared strings, the workbook and its relations), so the fuzzer
// reaches the XML and the cell bounds without having to find a valid archive first. Run it
// with a large -max_len: its faults are those of big sheets.
#include "sources/listing_file.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <zip.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

//! The archive of the parts, each stored or deflated; empty when libzip could not make it.
std::string Archive(const std::vector<std::pair<const char*, std::string>>& parts, bool deflate)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_error_fini(&error);
    if (!buffer)
        return {};
    zip_source_keep(buffer);
    std::string bytes;
    if (zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, nullptr))
    {
        for (const auto& [name, text] : parts)
        {
            zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
            const zip_int64_t index = source ? zip_file_add(archive, name, source, ZIP_FL_OVERWRITE) : -1;
            if (index < 0)
                zip_source_free(source);
            else
                zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                         deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
        }
        if (zip_close(archive) != 0)
            zip_discard(archive);
        else if (zip_source_open(buffer) == 0)
        {
            std::array<char, 64 * 1024> piece;
            zip_int64_t read = 0;
            while ((read = zip_source_read(buffer, piece.data(), piece.size())) > 0)
                bytes.append(piece.data(), static_cast<std::size_t>(read));
            zip_source_close(buffer);
        }
    }
    zip_source_free(buffer);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool deflate = input.ConsumeBool();
    const bool workbook = input.ConsumeBool();
    std::vector<std::pair<const char*, std::string>> parts;
    parts.emplace_back("xl/sharedStrings.xml", input.ConsumeRandomLengthString(size));
    if (workbook)
    {
        parts.emplace_back("xl/workbook.xml", input.ConsumeRandomLengthString(4096));
        parts.emplace_back("xl/_rels/workbook.xml.rels", input.ConsumeRandomLengthString(4096));
    }
    parts.emplace_back("xl/worksheets/sheet1.xml", input.ConsumeRemainingBytesAsString());
    const std::string archive = Archive(parts, deflate);
    if (archive.empty())
        return 0;
    try
    {
        ListingRowsFromXlsx(archive);
    }
    catch (const TListingError&)
    {}
    return 0;
}
