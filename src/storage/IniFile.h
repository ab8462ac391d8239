// TIniFile: Data.ini with the Windows private-profile rules, GBK on disk and UTF-8 in memory.
#pragma once

#include <QString>

#include <stdexcept>
#include <string>

namespace zeva {

// "Unable to write to %s" with the file's full name.
class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TIniFile {
public:
    // Every operation reads the file afresh; every write reaches the disk before it returns.
    explicit TIniFile(QString fileName);

    const QString& FileName() const { return m_fileName; }

    // Sections and keys match without regard to case; values come trimmed, at most 2047 bytes
    // (`cut` says whether the file held more).
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue,
                       bool* cut = nullptr) const;
    // Decimal, or hexadecimal after 0x/0X; anything else (or nothing) gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // Replaces the value where it stands or adds the key, creating section and file; every other
    // line stays as it was. Throws EIniFileError.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);

    static constexpr std::size_t MaxValueBytes = 2047;

private:
    QString m_fileName;
};

// The integer rule of ReadInteger, on a trimmed text.
bool ParseIniInteger(const std::string& text, int& value);

} // namespace zeva
