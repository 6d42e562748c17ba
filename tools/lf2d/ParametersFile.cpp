#include "ParametersFile.h"

#include "FolderImages.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

// Such files hold a few dozen lines; anything far larger is not one of them.
constexpr std::streamoff maxFileBytes = 1 << 20;

std::string stripped(const std::string &text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

} // namespace

ParametersFile::ParametersFile(const std::string &path)
    : m_path(path)
{
    using folder::inQuotes;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("Cannot read " + inQuotes(path) + ": " + std::strerror(errno));
    file.seekg(0, std::ios::end);
    if (file.tellg() > maxFileBytes) {
        throw std::runtime_error("The parameters file " + inQuotes(path) + " is over "
                                 + std::to_string(maxFileBytes) + " bytes, too large to be one");
    }
    file.seekg(0);
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        const std::string line = stripped(text);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']')
            continue;
        const std::size_t equals = line.find('=');
        const std::string key = equals == std::string::npos ? "" : stripped(line.substr(0, equals));
        if (key.empty()) {
            throw std::runtime_error("The parameters file " + inQuotes(path) + " has at line "
                                     + std::to_string(number)
                                     + " neither a [section] nor a key = value");
        }
        m_values.insert({key, {stripped(line.substr(equals + 1)), number}});
    }
}

const ParametersFile::Setting &ParametersFile::setting(const std::string &key) const
{
    const auto found = m_values.find(key);
    if (found == m_values.end()) {
        throw std::runtime_error("The parameters file " + folder::inQuotes(m_path) + " has no "
                                 + key);
    }
    return found->second;
}

void ParametersFile::refuse(const std::string &key, const Setting &setting,
                            const std::string &expected) const
{
    throw std::runtime_error("The parameters file " + folder::inQuotes(m_path) + " gives " + key
                             + " = '" + setting.value + "' at line " + std::to_string(setting.line)
                             + "; expected " + expected);
}

int ParametersFile::integer(const std::string &key, int minimum, int maximum) const
{
    const Setting &found = setting(key);
    const char *begin = found.value.c_str();
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin || *end != '\0' || errno == ERANGE || value < minimum || value > maximum) {
        refuse(key, found,
               "a whole number from " + std::to_string(minimum) + " to " + std::to_string(maximum));
    }
    return int(value);
}

double ParametersFile::number(const std::string &key) const
{
    const Setting &found = setting(key);
    const char *begin = found.value.c_str();
    char *end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || !std::isfinite(value))
        refuse(key, found, "a number");
    return value;
}

std::optional<int> ParametersFile::optionalInteger(const std::string &key, int minimum,
                                                   int maximum) const
{
    if (!has(key))
        return std::nullopt;
    return integer(key, minimum, maximum);
}
