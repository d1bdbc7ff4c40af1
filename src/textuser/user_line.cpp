#include "textuser/user_line.h"

#include "config/misc.h"

user_line read_user_line(std::string_view piece) noexcept
{
    // Trimming the whole line first would find the same first ':' and the same name,
    // so only the name field is trimmed: most lines are never looked at twice.
    std::size_t start = 0;
    while (start < piece.size() && is_white_space(piece[start]))
        ++start;
    const std::size_t colon = piece.find(':', start);
    // A NUL byte ends the line; only one before the first ':' changes what the line is.
    const std::size_t nul = piece.substr(0, colon).find('\0');
    if (nul != std::string_view::npos) {
        piece = piece.substr(0, nul);
        start = start < nul ? start : nul;
        while (start < piece.size() && is_white_space(piece[start]))
            ++start;
    }
    if (start == piece.size() || piece[start] == '#')
        return {};
    if (nul != std::string_view::npos || colon == std::string_view::npos)
        return {line_kind::invalid, {}, {}};
    return {line_kind::user, trim_view(piece.substr(start, colon - start)), piece.substr(colon + 1)};
}

bool is_line_of(std::string_view piece, std::string_view name) noexcept
{
    // The name field begins at the first character that is not white space, so a line
    // that does not hold the name there is nobody's concern: most lines stop here.
    std::size_t start = 0;
    while (start < piece.size() && is_white_space(piece[start]))
        ++start;
    if (piece.substr(start, name.size()) != name)
        return false;
    const user_line line = read_user_line(piece);
    return line.kind == line_kind::user && line.name == name;
}

bool split_fields(std::string_view rest, user_fields& fields, int& missing_colon) noexcept
{
    rest = rest.substr(0, rest.find('\0'));
    const std::size_t second = rest.find(':');
    if (second == std::string_view::npos) {
        missing_colon = 2;
        return false;
    }
    const std::size_t third = rest.find(':', second + 1);
    if (third == std::string_view::npos) {
        missing_colon = 3;
        return false;
    }
    fields.group = trim_view(rest.substr(0, second));
    fields.home = trim_view(rest.substr(second + 1, third - second - 1));
    fields.hash = trim_view(rest.substr(third + 1));
    return true;
}
