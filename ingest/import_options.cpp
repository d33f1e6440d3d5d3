// The option rows of a chain: contract symbols decoded, the layouts of the
// option tables matched to their headers, a row read into an option.

#include "ingest/import_rows.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <tuple>

#include "ingest/row_fields.h"
#include "platform/text.h"

namespace quillon::import {

using namespace fields;

// ------------------------------------------------------------------ options

std::optional<ContractSymbol> DecodeContractSymbol(std::string_view text) {
    text = Trim(text);
    // From the end: 8 strike digits, the type letter, 6 date digits; the root
    // is what comes before, without the padding blanks.
    if (text.size() < 16) return std::nullopt;
    const std::string_view strike = text.substr(text.size() - 8);
    const char type = Upper(text[text.size() - 9]);
    const std::string_view date = text.substr(text.size() - 15, 6);
    const std::string root = UpperCase(Trim(text.substr(0, text.size() - 15)));
    if (root.empty() || root.size() > 6) return std::nullopt;
    for (char c : root) {
        if (!IsAlnum(c)) return std::nullopt;
    }
    if (type != 'C' && type != 'P') return std::nullopt;
    const std::optional<int> thousandths = Digits(strike, 8, 8);
    const std::optional<int> twoDigitYear = Digits(date.substr(0, 2), 2, 2);
    const std::optional<CivilDay> expiration =
        ValidDate(twoDigitYear ? std::optional<int>(2000 + *twoDigitYear) : std::nullopt,
                  Digits(date.substr(2, 2), 2, 2), Digits(date.substr(4, 2), 2, 2));
    if (!thousandths || !expiration) return std::nullopt;
    return ContractSymbol{root, *expiration, type == 'C' ? 0 : 1, *thousandths / 1000.0};
}

namespace {

// The column names of an option's own figures, by field, best first.
struct FigureNames {
    OptionColumn column;
    std::initializer_list<const char*> names;
};
const FigureNames kFigureNames[] = {
    {kOptLast, {"last", "lastprice", "lastsale", "lasttradeprice", "close"}},
    {kOptChange, {"change", "netchange", "net", "netchng"}},
    {kOptBid, {"bid", "bideod", "bidprice"}},
    {kOptAsk, {"ask", "askeod", "askprice"}},
    {kOptVolume, {"volume", "vol", "tradevolume"}},
    {kOpenInterest, {"openinterest", "oi", "openint"}},
};

bool IsFigureName(std::string_view normalized) {
    for (const FigureNames& figure : kFigureNames) {
        for (const char* name : figure.names) {
            if (normalized == name) return true;
        }
    }
    return false;
}

// The side a prefixed name belongs to ("C_BID", "[P_ASK]", "call_volume"),
// and the name without the prefix; -1 when the name has none.
int PrefixSide(std::string_view name, std::string& rest) {
    std::string text;
    for (char c : name) {
        if (c != ' ' && c != '[' && c != ']' && c != '<' && c != '>' && c != '"') text += c;
    }
    const std::string lower = NormalizeColumnName(text);
    for (auto [prefix, side] :
         {std::pair{"c_", 0}, {"p_", 1}, {"call_", 0}, {"put_", 1}, {"calls_", 0}, {"puts_", 1}}) {
        const std::string_view p = prefix;
        if (text.size() > p.size()) {
            std::string head = text.substr(0, p.size());
            for (char& c : head)
                c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            if (head == p) {
                rest = NormalizeColumnName(text.substr(p.size()));
                return side;
            }
        }
    }
    rest = lower;
    return -1;
}

int FindIn(const std::vector<std::string>& normalized, const std::vector<int>& sides, int side,
           std::initializer_list<const char*> aliases) {
    for (const char* alias : aliases) {
        for (std::size_t i = 0; i < normalized.size(); ++i) {
            if (sides[i] == side && normalized[i] == alias) return static_cast<int>(i);
        }
    }
    return -1;
}

// The header's names normalized, each with its side: 0 the calls, 1 the
// puts, -1 shared by both or a layout of one side.
struct SidedNames {
    std::vector<std::string> n;
    std::vector<int> side;
    bool prefixed = false;  // the sides are told by C_/P_ prefixes
    int strike = -1;
};

// Side-by-side layouts: figures named with C_/P_ prefixes, or the same
// figure names on both sides of the strike.
SidedNames SplitSides(const std::vector<std::string>& header) {
    SidedNames names;
    auto& n = names.n;
    auto& side = names.side;
    n.resize(header.size());
    side.assign(header.size(), -1);
    for (std::size_t i = 0; i < header.size(); ++i) {
        side[i] = PrefixSide(header[i], n[i]);
        if (side[i] >= 0 && IsFigureName(n[i])) names.prefixed = true;
    }
    if (!names.prefixed) {
        side.assign(header.size(), -1);
        for (std::size_t i = 0; i < header.size(); ++i)
            n[i] = NormalizeColumnName(header[i]);
    }
    std::vector<int> shared(header.size(), -1);
    const int strike = FindIn(n, names.prefixed ? side : shared, -1, {"strike", "strikeprice"});
    names.strike = strike;
    if (!names.prefixed && strike >= 0) {
        bool before = false, after = false;
        for (std::size_t i = 0; i < n.size(); ++i) {
            if (!IsFigureName(n[i])) continue;
            (static_cast<int>(i) < strike ? before : after) = true;
        }
        if (before && after) {
            for (std::size_t i = 0; i < n.size(); ++i) {
                const bool contract = n[i] == "calls" || n[i] == "puts";
                if (IsFigureName(n[i]) || contract) side[i] = static_cast<int>(i) < strike ? 0 : 1;
            }
        }
    }
    return names;
}

// The figures of each side and their contract columns; false with
// `message` when the layout lacks what names the option.
bool MatchSideBySide(OptionHeader& h, const SidedNames& names, int symbol,
                     const RowContext& context, bool blockTitles, std::string& message) {
    auto& c = h.column;
    for (int s = 0; s < 2; ++s) {
        auto& columns = s == 0 ? h.column : h.putColumn;
        for (const FigureNames& figure : kFigureNames)
            columns[figure.column] = FindIn(names.n, names.side, s, figure.names);
        columns[kContract] =
            FindIn(names.n, names.side, s,
                   {s == 0 ? "calls" : "puts", "contractsymbol", "optionsymbol", "symbol"});
    }
    if (c[kUnderlying] < 0) c[kUnderlying] = symbol;
    if (c[kUnderlying] < 0 && context.underlying.empty() && h.column[kContract] < 0 &&
        h.putColumn[kContract] < 0) {
        message = "no column for the underlying symbol: name the stock with --symbol SYM";
        return false;
    }
    if (names.strike < 0) {
        message = "no column 'strike'";
        return false;
    }
    if (c[kExpiration] < 0 && !blockTitles && h.column[kContract] < 0) {
        message = "no column 'expiration' (or 'expiry', 'expiry_date', 'exp')";
        return false;
    }
    return true;
}

// One side: the four columns win when all are there ("symbol" then names
// the stock); a contract symbol column otherwise. A file with some of the
// four and no contract column is half-recognised: refused, naming what it
// lacks, never read as contract symbols.
bool MatchOneSide(OptionHeader& h, const SidedNames& names, int contract, int symbol,
                  const RowContext& context, bool blockTitles, std::string& message) {
    auto& c = h.column;
    const int strike = names.strike;
    if (c[kUnderlying] < 0 && contract < 0) c[kUnderlying] = symbol;
    const bool underlyingKnown = c[kUnderlying] >= 0 || !context.underlying.empty();
    const bool expirationKnown = c[kExpiration] >= 0 || blockTitles;
    const bool columnForm = underlyingKnown && expirationKnown && c[kType] >= 0 && strike >= 0;
    const bool someOfTheFour = c[kExpiration] >= 0 || c[kType] >= 0 || strike >= 0;
    if (!columnForm) {
        c[kContract] = contract >= 0 ? contract : (someOfTheFour ? -1 : symbol);
        if (c[kContract] < 0) {
            std::string missing;
            for (auto [column, name, known] :
                 {std::tuple{kUnderlying, "underlying", underlyingKnown},
                  {kExpiration, "expiration", expirationKnown},
                  {kType, "type", c[kType] >= 0},
                  {kStrike, "strike", strike >= 0}}) {
                (void)column;
                if (!known) missing += std::string(missing.empty() ? "" : ", ") + "'" + name + "'";
            }
            message = "no column " + missing +
                      " for the separate-column form, and no column 'contractSymbol' (or "
                      "'optionSymbol')";
            if (!underlyingKnown)
                message += "; a file without the underlying's symbol takes it from --symbol SYM";
            return false;
        }
        if (c[kUnderlying] == c[kContract]) c[kUnderlying] = -1;
        h.contractForm = true;
    }
    for (const FigureNames& figure : kFigureNames)
        c[figure.column] = FindIn(names.n, names.side, -1, figure.names);
    return true;
}

bool HasPriceColumn(const OptionHeader& h) {
    bool anyPrice = false;
    for (const auto* columns : {&h.column, &h.putColumn}) {
        for (OptionColumn figure : {kOptLast, kOptBid, kOptAsk})
            anyPrice = anyPrice || (*columns)[figure] >= 0;
    }
    return anyPrice;
}

}  // namespace

std::optional<OptionHeader> MatchOptionHeader(const std::vector<std::string>& header,
                                              std::string& message, const RowContext& context,
                                              bool blockTitles) {
    OptionHeader h;
    h.names = header;
    h.column.fill(-1);
    h.putColumn.fill(-1);
    auto& c = h.column;

    const SidedNames names = SplitSides(header);
    h.sideBySide =
        names.prefixed || std::find(names.side.begin(), names.side.end(), 1) != names.side.end();

    auto shared_ = [&](std::initializer_list<const char*> aliases) {
        return FindIn(names.n, names.side, -1, aliases);
    };
    c[kStrike] = names.strike;
    c[kUnderlying] = shared_({"underlying", "underlyingsymbol", "ticker"});
    c[kRoot] = shared_({"optionroot", "root"});
    c[kExpiration] = shared_({"expiration", "expirationdate", "expiry", "expirydate", "expdate",
                              "exp", "expiredate", "maturity"});
    c[kType] = shared_({"type", "optiontype", "putcall", "callput", "right", "cp"});
    c[kOptQuoteDate] = shared_({"quotedate", "datadate", "date", "tradedate", "asofdate"});
    c[kUnderlyingPrice] = shared_({"underlyingprice", "underlyinglast", "underlyinglastprice",
                                   "underlyingclose", "spotprice", "stockprice"});
    c[kUnderlyingBid] = shared_({"underlyingbideod", "underlyingbid"});
    c[kUnderlyingAsk] = shared_({"underlyingaskeod", "underlyingask"});
    const int contract = shared_({"contractsymbol", "optionsymbol", "occsymbol"});
    const int symbol = shared_({"symbol"});

    const bool matched =
        h.sideBySide ? MatchSideBySide(h, names, symbol, context, blockTitles, message)
                     : MatchOneSide(h, names, contract, symbol, context, blockTitles, message);
    if (!matched) return std::nullopt;
    if (!HasPriceColumn(h)) {
        message =
            "no price column: looked for 'last', 'lastPrice', 'Last Sale', 'close', 'bid', "
            "'bid_eod', 'ask' and 'ask_eod'";
        return std::nullopt;
    }
    return h;
}

namespace {

// The columns of one side of a row.
using ColumnsOfSide = std::array<int, kOptionColumns>;

// Where a row fails: the fault and the column it was found in.
struct SideFault {
    RowFault fault;
    int column;
};

// True when a side of a side-by-side row has no contract and no figure.
bool EmptySide(const ColumnsOfSide& s, const std::vector<std::string>& fields) {
    bool any = !FieldAt(fields, s[kContract]).empty();
    for (const FigureNames& figure : kFigureNames)
        any = any || ReadCell(FieldAt(fields, s[figure.column])).kind != Cell::Missing;
    return !any;
}

// The option's expiration, type and strike from their own columns (the
// contract symbol, when there is one, standing in for an unreadable
// expiration).
std::optional<SideFault> ReadSeparateColumns(const OptionHeader& header, int side,
                                             const std::vector<std::string>& fields,
                                             const RowContext& context,
                                             const std::optional<ContractSymbol>& contract,
                                             OptionRow& row) {
    const auto& c = header.column;
    if (row.Underlying.empty()) {
        if (!contract) return SideFault{RowFault::BadSymbol, c[kUnderlying]};
        row.Underlying = contract->Root;
    }
    row.Root = contract ? contract->Root : row.Underlying;
    // Some files write the whole contract symbol in the root column.
    if (c[kRoot] >= 0 && !FieldAt(fields, c[kRoot]).empty()) {
        const std::string_view root = FieldAt(fields, c[kRoot]);
        const std::optional<ContractSymbol> rooted = DecodeContractSymbol(root);
        row.Root = rooted ? rooted->Root : SymbolOf(root);
    }
    const std::string_view expiration = FieldAt(fields, c[kExpiration]);
    if (!expiration.empty() || !context.expiration) {
        const std::optional<CivilDay> date = ParseDate(expiration);
        if (date) {
            row.Expiration = *date;
        } else if (contract) {
            row.Expiration = contract->Expiration;
        } else {
            return SideFault{RowFault::BadDate, c[kExpiration]};
        }
    } else {
        row.Expiration = *context.expiration;
    }
    if (header.sideBySide) {
        row.Type = side;
    } else {
        const std::string type = UpperCase(FieldAt(fields, c[kType]));
        if (type == "C" || type == "CALL" || type == "CALLS") {
            row.Type = 0;
        } else if (type == "P" || type == "PUT" || type == "PUTS") {
            row.Type = 1;
        } else {
            return SideFault{RowFault::UnknownType, c[kType]};
        }
    }
    const Cell strike = ReadCell(FieldAt(fields, c[kStrike]));
    if (strike.kind == Cell::Unreadable) return SideFault{RowFault::UnreadableNumber, c[kStrike]};
    if (strike.kind == Cell::Missing || strike.value <= 0)
        return SideFault{RowFault::BadStrike, c[kStrike]};
    row.Strike = strike.value;
    return std::nullopt;
}

// The option's figures and its underlying's price; false with `problem`
// set at the first that cannot be read.
bool ReadFigures(const OptionHeader& header, const ColumnsOfSide& s,
                 const std::vector<std::string>& fields, OptionRow& row, RowProblem& problem) {
    const auto& c = header.column;
    const auto& names = header.names;
    struct Number {
        OptionColumn column;
        float OptionRow::*field;
    };
    static constexpr Number kNumbers[] = {
        {kOptLast, &OptionRow::Last},
        {kOptBid, &OptionRow::Bid},
        {kOptAsk, &OptionRow::Ask},
        {kOptVolume, &OptionRow::Volume},
        {kOpenInterest, &OptionRow::OpenInterest},
    };
    for (const Number& number : kNumbers) {
        if (!ReadNumberInto(names, fields, s[number.column], false, row.*number.field, problem))
            return false;
    }
    if (!ReadNumberInto(names, fields, s[kOptChange], true, row.Change, problem)) return false;
    if (!ReadNumberInto(names, fields, c[kUnderlyingPrice], false, row.UnderlyingPrice, problem))
        return false;
    if (!(row.UnderlyingPrice > 0)) {
        double bid = -1, ask = -1;
        if (!ReadNumberInto(names, fields, c[kUnderlyingBid], false, bid, problem) ||
            !ReadNumberInto(names, fields, c[kUnderlyingAsk], false, ask, problem))
            return false;
        row.UnderlyingPrice = bid > 0 && ask > 0 ? (bid + ask) / 2 : -1;
        row.UnderlyingQuoted = c[kUnderlyingBid] >= 0 && c[kUnderlyingAsk] >= 0;
        row.UnderlyingBid = bid;
        row.UnderlyingAsk = ask;
    }
    return true;
}

// One side of a row (side 0 the calls or the only side, 1 the puts of a
// side-by-side row). Nothing, without a problem, for an empty side.
std::optional<OptionRow> ReadSide(const OptionHeader& header, int side,
                                  const std::vector<std::string>& fields, const RowContext& context,
                                  RowProblem& problem, bool& failed) {
    const auto& c = header.column;
    const auto& s = side == 0 ? header.column : header.putColumn;
    const auto& names = header.names;
    failed = false;
    OptionRow row;
    auto fail = [&](RowFault fault, int column) {
        problem = {fault, NameOf(names, column), std::string(FieldAt(fields, column)), {}};
        failed = true;
        return std::nullopt;
    };
    if (header.sideBySide && EmptySide(s, fields)) return std::nullopt;
    std::optional<ContractSymbol> contract;
    const int contractColumn = header.contractForm ? c[kContract] : s[kContract];
    if (contractColumn >= 0 && !FieldAt(fields, contractColumn).empty()) {
        contract = DecodeContractSymbol(FieldAt(fields, contractColumn));
    }
    if (!contract && header.contractForm) return fail(RowFault::BadContractSymbol, contractColumn);
    if (c[kUnderlying] >= 0) row.Underlying = SymbolOf(FieldAt(fields, c[kUnderlying]));
    if (row.Underlying.empty()) row.Underlying = context.underlying;
    if (header.contractForm) {
        if (contract->Strike <= 0) return fail(RowFault::BadStrike, contractColumn);
        row.Root = contract->Root;
        row.Expiration = contract->Expiration;
        row.Type = contract->Type;
        row.Strike = contract->Strike;
        if (row.Underlying.empty()) row.Underlying = row.Root;
    } else if (const std::optional<SideFault> fault =
                   ReadSeparateColumns(header, side, fields, context, contract, row)) {
        return fail(fault->fault, fault->column);
    }
    if (!IsScanSymbol(row.Underlying)) return fail(RowFault::BadSymbol, c[kUnderlying]);
    if (!ReadFigures(header, s, fields, row, problem)) {
        failed = true;
        return std::nullopt;
    }
    row.QuoteDate = context.quoteDate;
    if (c[kOptQuoteDate] >= 0) {
        row.QuoteDate = ParseDate(FieldAt(fields, c[kOptQuoteDate]));
        if (!row.QuoteDate) return fail(RowFault::BadQuoteDate, c[kOptQuoteDate]);
    }
    return row;
}

}  // namespace

bool ReadOptionRows(const OptionHeader& header, const std::vector<std::string>& fields,
                    const RowContext& context, std::vector<OptionRow>& rows, RowProblem& problem) {
    rows.clear();
    for (int side = 0; side < (header.sideBySide ? 2 : 1); ++side) {
        bool failed = false;
        std::optional<OptionRow> row = ReadSide(header, side, fields, context, problem, failed);
        if (failed) {
            rows.clear();
            return false;
        }
        if (row) rows.push_back(std::move(*row));
    }
    return true;
}

std::optional<OptionRow> ReadOptionRow(const OptionHeader& header,
                                       const std::vector<std::string>& fields,
                                       RowProblem& problem) {
    std::vector<OptionRow> rows;
    if (!ReadOptionRows(header, fields, {}, rows, problem) || rows.empty()) return std::nullopt;
    return std::move(rows.front());
}

}  // namespace quillon::import
