#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

// The fuzzer's bytes as the two texts a statement can become: read as UTF-8, as the seeds are
// written, and as raw UTF-16, which also yields unpaired surrogates and NUL characters.
inline std::array<QString, 2> fuzzTexts(const std::uint8_t *data, std::size_t size)
{
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2); // the bytes need not be aligned
    return {QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)),
            QString::fromStdU16String(units)};
}
