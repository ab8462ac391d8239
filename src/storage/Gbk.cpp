// GBK <-> UTF-8 through iconv.
#include "Gbk.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace zeva {

namespace {

// How many input bytes a bad sequence starting at `p` spans: a whole UTF-8 character, or one byte.
using SkipFn = size_t (*)(const unsigned char* p, size_t left);

size_t skipUtf8(const unsigned char* p, size_t left)
{
    size_t n = *p >= 0xF0 ? 4 : *p >= 0xE0 ? 3 : *p >= 0xC0 ? 2 : 1;
    return n <= left ? n : left;
}

size_t skipByte(const unsigned char*, size_t)
{
    return 1;
}

std::string convert(std::string_view in, const char* to, const char* from, std::string_view replacement,
                    SkipFn skip)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    std::string out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[1024];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, size_t(dst - buf));
        if (r == size_t(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (a cut-off sequence at the end): skip one byte of input.
            out.append(replacement);
            size_t n = skip(reinterpret_cast<const unsigned char*>(src), srcLeft);
            src += n;
            srcLeft -= n;
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string Utf8ToGbk(std::string_view utf8)
{
    return convert(utf8, "GBK", "UTF-8", "?", skipUtf8);
}

std::string GbkToUtf8(std::string_view gbk)
{
    return convert(gbk, "UTF-8", "GBK", "\xEF\xBF\xBD", skipByte);
}

} // namespace zeva
