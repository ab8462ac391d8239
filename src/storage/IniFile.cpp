// Data.ini reader and writer.
#include "IniFile.h"

#include "Gbk.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zeva {

namespace {

struct Line {
    std::string text; // without its line ending
    std::string ending;
};

enum class TReadState { Ok, Missing, Unreadable };

// A folder or a file that cannot be read is told apart from a missing one: reads then give the
// defaults, and a write must not replace what it could not read.
TReadState readFile(const std::string& path, std::string& data)
{
    data.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? TReadState::Missing : TReadState::Unreadable;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return TReadState::Unreadable;
    }
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            data.clear();
            return TReadState::Unreadable;
        }
        if (n == 0)
            break;
        data.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return TReadState::Ok;
}

std::vector<Line> splitLines(const std::string& data)
{
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < data.size()) {
        std::size_t nl = data.find('\n', pos);
        Line l;
        if (nl == std::string::npos) {
            l.text = data.substr(pos);
            pos = data.size();
        } else {
            std::size_t end = nl;
            l.ending = "\n";
            if (end > pos && data[end - 1] == '\r') {
                --end;
                l.ending = "\r\n";
            }
            l.text = data.substr(pos, end - pos);
            pos = nl + 1;
        }
        lines.push_back(std::move(l));
    }
    return lines;
}

std::string trim(const std::string& s)
{
    const char* blanks = " \t\r\n\v\f";
    std::size_t b = s.find_first_not_of(blanks);
    if (b == std::string::npos)
        return {};
    std::size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (x < 0x80 && y < 0x80 ? std::tolower(x) != std::tolower(y) : x != y)
            return false;
    }
    return true;
}

// The section name of a line, if it opens one.
std::optional<std::string> sectionOf(const std::string& line)
{
    std::string t = trim(line);
    if (t.empty() || t[0] != '[')
        return std::nullopt;
    std::size_t close = t.find(']');
    return trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

bool isComment(const std::string& trimmed)
{
    return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// Where a key stands: the section's header line, the key's line, and the section's last
// non-blank line (after which a new key goes).
struct Position {
    int section = -1;
    int key = -1;
    int lastContent = -1;
};

Position locate(const std::vector<Line>& lines, const std::string& section, const std::string& key)
{
    Position p;
    bool inSection = false;
    for (int i = 0; i < int(lines.size()); ++i) {
        const std::string& text = lines[std::size_t(i)].text;
        if (auto name = sectionOf(text)) {
            if (inSection)
                break; // only the first section of that name counts
            if (sameName(*name, section)) {
                inSection = true;
                p.section = p.lastContent = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        std::string t = trim(text);
        if (t.empty())
            continue;
        p.lastContent = i;
        if (isComment(t))
            continue;
        std::size_t eq = text.find('=');
        if (eq != std::string::npos && p.key < 0 && sameName(trim(text.substr(0, eq)), key))
            p.key = i;
    }
    return p;
}

std::string lineEndingOf(const std::vector<Line>& lines)
{
    for (const Line& l : lines)
        if (!l.ending.empty())
            return l.ending;
    return "\r\n"; // as the file has always been written
}

std::string cutValue(std::string value)
{
    if (value.size() <= TIniFile::MaxValueBytes)
        return value;
    // Do not leave half of a double-byte character at the end.
    std::size_t n = 0;
    while (n < TIniFile::MaxValueBytes) {
        std::size_t step = (unsigned char)value[n] >= 0x81 ? 2 : 1;
        if (n + step > TIniFile::MaxValueBytes)
            break;
        n += step;
    }
    return value.substr(0, n);
}

void writeAtomically(const std::string& path, const std::string& data)
{
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string tmpl = dir + "/.Data.ini.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        throw EIniFileError("Unable to write to " + path);
    struct stat st{};
    mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : mode_t(0644);
    ::fchmod(fd, mode);
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += std::size_t(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    // The rename replaces the old file whole: a crash leaves the old text or the new, never half.
    ok = ok && ::rename(name.data(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(name.data());
        throw EIniFileError("Unable to write to " + path);
    }
}

} // namespace

bool ParseIniInteger(const std::string& text, int& value)
{
    if (text.empty())
        return false;
    const char* s = text.c_str();
    int base = 10;
    bool negative = false;
    std::size_t i = 0;
    if (text.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    } else if (s[0] == '-' || s[0] == '+') {
        negative = s[0] == '-';
        i = 1;
    }
    if (i >= text.size())
        return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        int d;
        char c = s[i];
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * base + d;
        // Hex may fill all 32 bits (0xFFFFFFFF is -1); decimal must fit the signed range.
        if (v > (base == 16 ? 0xFFFFFFFFLL : (long long)INT_MAX + (negative ? 1 : 0)))
            return false;
    }
    if (base == 16)
        value = int(uint32_t(v));
    else
        value = int(negative ? -v : v);
    return true;
}

TIniFile::TIniFile(QString fileName) : m_fileName(std::move(fileName)) {}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue, bool* cut) const
{
    if (cut)
        *cut = false;
    std::string data;
    if (readFile(m_fileName.toStdString(), data) != TReadState::Ok)
        return defaultValue;
    std::vector<Line> lines = splitLines(data);
    Position p = locate(lines, Utf8ToGbk(section.toStdString()), Utf8ToGbk(key.toStdString()));
    if (p.key < 0)
        return defaultValue;
    const std::string& text = lines[std::size_t(p.key)].text;
    const std::string whole = trim(text.substr(text.find('=') + 1));
    std::string value = cutValue(whole);
    if (cut)
        *cut = value.size() < whole.size();
    return QString::fromStdString(GbkToUtf8(value));
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    int value = 0;
    return ParseIniInteger(ReadString(section, key, QString()).toStdString(), value) ? value : defaultValue;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    std::string path = m_fileName.toStdString();
    std::string data;
    if (readFile(path, data) == TReadState::Unreadable)
        throw EIniFileError("Unable to write to " + path);
    std::vector<Line> lines = splitLines(data);
    std::string gSection = Utf8ToGbk(section.toStdString());
    std::string gKey = Utf8ToGbk(key.toStdString());
    std::string gValue = Utf8ToGbk(value.toStdString());
    std::string eol = lineEndingOf(lines);
    Position p = locate(lines, gSection, gKey);

    if (p.key >= 0) {
        Line& l = lines[std::size_t(p.key)];
        l.text = trim(l.text.substr(0, l.text.find('='))) + "=" + gValue;
    } else {
        if (!lines.empty() && lines.back().ending.empty())
            lines.back().ending = eol;
        Line keyLine{gKey + "=" + gValue, eol};
        if (p.section >= 0) {
            lines.insert(lines.begin() + p.lastContent + 1, keyLine);
        } else {
            lines.push_back({"[" + gSection + "]", eol});
            lines.push_back(keyLine);
        }
    }
    std::string out;
    for (const Line& l : lines)
        out += l.text + l.ending;
    writeAtomically(path, out);
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

} // namespace zeva
