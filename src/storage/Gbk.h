// GBK <-> UTF-8 through iconv, for the settings file.
#pragma once

#include <string>
#include <string_view>

namespace zeva {

// Characters without a GBK form become '?'; the settings file never holds them.
std::string Utf8ToGbk(std::string_view utf8);
// Bytes that are no GBK are kept as U+FFFD, so a damaged file still reads.
std::string GbkToUtf8(std::string_view gbk);

} // namespace zeva
