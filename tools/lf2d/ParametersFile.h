#pragma once

#include <map>
#include <optional>
#include <string>

// The settings file a benchmark folder describes its light field in: "[section]" lines and
// "key = value" lines, as in
//
//     [extrinsics]
//     num_cams_x = 9
//
// Keys are looked up by name whatever their section; the first of a name counts.
class ParametersFile
{
public:
    // Throws std::runtime_error naming the file and, for a line that is neither a section nor a
    // setting, its number.
    explicit ParametersFile(const std::string &path);

    const std::string &path() const { return m_path; }
    bool has(const std::string &key) const { return m_values.count(key) != 0; }

    // The value of key as an integer from minimum to maximum, or as a finite number. Throw
    // std::runtime_error naming the file and the key when it is missing or not such a number.
    int integer(const std::string &key, int minimum, int maximum) const;
    double number(const std::string &key) const;
    // The same, or nothing when the file has no such key.
    std::optional<int> optionalInteger(const std::string &key, int minimum, int maximum) const;

private:
    struct Setting
    {
        std::string value;
        int line = 0;
    };
    const Setting &setting(const std::string &key) const;
    [[noreturn]] void refuse(const std::string &key, const Setting &setting,
                             const std::string &expected) const;

    std::string m_path;
    std::map<std::string, Setting> m_values;
};
