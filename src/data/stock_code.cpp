#include "data/stock_code.h"

namespace {

constexpr std::string_view CodeLetters = "ACDFGHJKLMNPRSTUWXY";

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsCodeLetter(char c)
{
    return CodeLetters.find(Upper(c)) != std::string_view::npos;
}

} // namespace

bool IsLetterCode(std::string_view code)
{
    if (code.size() != 4 || !IsDigit(code[0]) || !IsDigit(code[2]))
        return false;
    bool letter = false;
    for (const char c : {code[1], code[3]})
    {
        if (IsCodeLetter(c))
            letter = true;
        else if (!IsDigit(c))
            return false;
    }
    return letter;
}

std::string UpperCaseCode(std::string_view code)
{
    std::string upper(code);
    for (char& c : upper)
        c = Upper(c);
    return upper;
}

std::string_view KeyCode(std::string_view key)
{
    return key.substr(0, key.find_first_of(". "));
}

bool SameCode(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    return true;
}
