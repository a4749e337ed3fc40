// The one place where the host's SQL text becomes SQLite's: the host writes T-SQL habits that
// SQLite lacks. Pure text functions, testable without a database.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fern::db {

// Splits a batch into statements outside quoted literals, identifiers and parentheses: at ';'
// and at a line break followed by a word that starts a statement (SELECT, INSERT, UPDATE,
// DELETE, EXEC, CREATE, DROP, ALTER, ...). A line break does not split where the statement
// plainly goes on: after UNION/ALL/AS/ON/SELECT/a comma or an operator, before `REPLACE(`,
// before the SELECT of an INSERT that has no VALUES yet, or inside a WITH before its verb.
// Empty statements are dropped; each piece keeps its own text untrimmed except for the
// separators.
std::vector<std::string> SplitBatch(std::string_view batch);

struct SqlStatement {
  std::string original;  // as the caller wrote it, for error messages
  std::string text;      // rewritten for SQLite (empty for exec)
  bool isExec = false;
  std::string procedure;          // exec: procedure name as written
  std::vector<std::string> args;  // exec: arguments as texts, quotes removed
  // Result columns that are a plain CAST(... AS type): folded column name (alias, or the
  // expression text without one) -> declared type name. SQLite reports no declared type for
  // expressions, the recordset reads its field type from here.
  std::vector<std::pair<std::string, std::string>> castTypes;
  // The outer query reads a join (JOIN or a comma in its FROM) or a UNION: one result row is not
  // one table row.
  bool joined = false;
};

// Rewrites one statement:
// - `exec NAME a, 'b'` (or EXECUTE) becomes a procedure call (isExec) with its arguments;
// - `SELECT [DISTINCT] TOP n ...` loses `TOP n` and gets ` LIMIT n` at the end of its own
//   query (inside parentheses for a sub-query);
// - identifiers holding non-ASCII letters are folded (upper case with umlauts, ß -> SS),
//   bare or in double quotes; ASCII identifiers and every '...' literal stay as written.
SqlStatement RewriteStatement(std::string_view statement);

// SplitBatch, then RewriteStatement on each piece.
std::vector<SqlStatement> RewriteBatch(std::string_view batch);

// Folds one identifier the way RewriteStatement does (unchanged when it is all ASCII).
std::string FoldIdentifier(std::string_view name);

}  // namespace fern::db
