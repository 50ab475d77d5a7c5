#include "zip_maker.h"

#include <zip.h>

namespace mistvale {

bool MakeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (const ZipEntry& entry : entries) {
        zip_source_t* source = zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
        const zip_int64_t index = entry.name.back() == '/'
                                      ? zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8)
                                      : zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        if (entry.name.back() == '/')
            zip_source_free(source);
        zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                         entry.mode << 16);
        if (entry.encrypt && zip_file_set_encryption(archive, static_cast<zip_uint64_t>(index),
                                                     ZIP_EM_AES_256, "secret") != 0) {
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

} // namespace mistvale
