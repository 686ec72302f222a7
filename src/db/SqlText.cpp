// Statement texts: a small tokenizer that knows SQL's quoting, enough to find the tables a
// statement names (a folder of free tables must attach exactly those files) and its parameters.
#include "db/SqlText.h"

#include "db/DbInternal.h"

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>

namespace peltorn::db::detail {

namespace {

struct Token {
    enum Kind { Ident, Quoted, String, Number, Param, Punct } kind;
    std::string text;  // identifiers without their quotes
};

bool IdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#';
}

std::vector<Token> Tokenize(const std::string& sql) {
    std::vector<Token> out;
    std::size_t i = 0, n = sql.size();
    while (i < n) {
        char c = sql[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            auto end = sql.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
        } else if (c == '\'') {
            std::string text;
            ++i;
            while (i < n) {
                if (sql[i] == '\'' && i + 1 < n && sql[i + 1] == '\'') {
                    text += '\'';
                    i += 2;
                } else if (sql[i] == '\'') {
                    ++i;
                    break;
                } else {
                    text += sql[i++];
                }
            }
            out.push_back({Token::String, text});
        } else if (c == '"' || c == '[' || c == '`') {
            char close = c == '[' ? ']' : c;
            std::string text;
            ++i;
            while (i < n && sql[i] != close) text += sql[i++];
            ++i;
            out.push_back({Token::Quoted, text});
        } else if (c == ':' && i + 1 < n && IdentChar(sql[i + 1])) {
            std::size_t start = ++i;
            while (i < n && IdentChar(sql[i])) ++i;
            out.push_back({Token::Param, sql.substr(start, i - start)});
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            std::size_t start = i;
            while (i < n && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '.'))
                ++i;
            out.push_back({Token::Number, sql.substr(start, i - start)});
        } else if (IdentChar(c)) {
            std::size_t start = i;
            while (i < n && IdentChar(sql[i])) ++i;
            out.push_back({Token::Ident, sql.substr(start, i - start)});
        } else {
            out.push_back({Token::Punct, std::string(1, c)});
            ++i;
        }
    }
    return out;
}

const std::set<std::string>& Keywords() {
    static const std::set<std::string> k = {
        "WHERE", "GROUP",   "ORDER",     "HAVING",  "LIMIT",  "JOIN",      "INNER",  "LEFT",
        "RIGHT", "OUTER",   "CROSS",     "ON",      "UNION",  "SET",       "VALUES", "AS",
        "USING", "NATURAL", "FULL",      "SELECT",  "FROM",   "INTO",      "AND",    "OR",
        "NOT",   "EXCEPT",  "INTERSECT", "DEFAULT", "WINDOW", "RETURNING", "INDEXED"};
    return k;
}

bool IsName(const Token& t) { return t.kind == Token::Ident || t.kind == Token::Quoted; }

bool IsKeyword(const Token& t) {
    return t.kind == Token::Ident && Keywords().count(Upper(t.text)) != 0;
}

// Reads a table name at i (schema.table takes the table); returns the index after it.
std::size_t ReadName(const std::vector<Token>& toks, std::size_t i, std::vector<std::string>& out) {
    if (i >= toks.size() || !IsName(toks[i]) || IsKeyword(toks[i])) return i;
    std::string name = toks[i].text;
    ++i;
    if (i + 1 < toks.size() && toks[i].kind == Token::Punct && toks[i].text == "." &&
        IsName(toks[i + 1])) {
        name = toks[i + 1].text;
        i += 2;
    }
    out.push_back(Upper(name));
    return i;
}

}  // namespace

std::vector<std::string> ReferencedTables(const std::string& sql) {
    auto toks = Tokenize(sql);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < toks.size(); ++i) {
        const Token& t = toks[i];
        if (t.kind != Token::Ident && t.kind != Token::Quoted) continue;
        std::string up = Upper(t.text);
        if (t.kind == Token::Ident &&
            (up == "FROM" || up == "JOIN" || up == "UPDATE" || up == "INTO" || up == "TABLE")) {
            std::size_t j = ReadName(toks, i + 1, out);
            if (up == "FROM") {
                // FROM a [alias], b [alias], ...
                while (j < toks.size()) {
                    if (j < toks.size() && toks[j].kind == Token::Ident &&
                        Upper(toks[j].text) == "AS")
                        ++j;
                    if (j < toks.size() && IsName(toks[j]) && !IsKeyword(toks[j])) ++j;  // alias
                    if (j < toks.size() && toks[j].kind == Token::Punct && toks[j].text == ",") {
                        j = ReadName(toks, j + 1, out);
                        continue;
                    }
                    break;
                }
            }
            continue;
        }
        // Qualified column: TABLE.FIELD
        if (i + 2 < toks.size() && toks[i + 1].kind == Token::Punct && toks[i + 1].text == "." &&
            IsName(toks[i + 2])) {
            out.push_back(up);
        }
    }
    std::vector<std::string> unique;
    for (auto& name : out)
        if (std::find(unique.begin(), unique.end(), name) == unique.end()) unique.push_back(name);
    return unique;
}

std::vector<std::string> ParameterNames(const std::string& sql) {
    std::vector<std::string> out;
    for (const auto& t : Tokenize(sql)) {
        if (t.kind != Token::Param) continue;
        bool seen = std::any_of(out.begin(), out.end(),
                                [&](const std::string& n) { return EqualsNoCase(n, t.text); });
        if (!seen) out.push_back(t.text);
    }
    return out;
}

std::optional<IfExistsStatement> ParseIfExists(const std::string& sql) {
    static const std::regex re(
        R"(^\s*IF\s+EXISTS\s*\(([\s\S]*)\)\s*THEN\s+([\s\S]*?)\s*;?\s*END\s+IF\s*;?\s*$)",
        std::regex::icase);
    std::smatch m;
    if (!std::regex_match(sql, m, re)) return std::nullopt;
    return IfExistsStatement{m[1].str(), m[2].str()};
}

std::optional<AlterColumnStatement> ParseAlterColumn(const std::string& sql) {
    static const std::regex re(
        R"re(^\s*ALTER\s+TABLE\s+"?([\w$#]+)"?\s+ALTER\s+COLUMN\s+"?(\w+)"?\s+"?(\w+)"?\s+(\w+(?:\s*\(\s*\d+\s*\))?)\s*;?\s*$)re",
        std::regex::icase);
    std::smatch m;
    if (!std::regex_match(sql, m, re)) return std::nullopt;
    return AlterColumnStatement{m[1].str(), m[2].str(), m[3].str(), m[4].str()};
}

bool IsSelect(const std::string& sql) {
    auto toks = Tokenize(sql);
    return !toks.empty() && toks[0].kind == Token::Ident &&
           (EqualsNoCase(toks[0].text, "SELECT") || EqualsNoCase(toks[0].text, "WITH"));
}

}  // namespace peltorn::db::detail
