#include <gtest/gtest.h>

#include "db/german_text.h"
#include "db/sql_rewrite.h"

using namespace fern::db;

TEST(GermanText, FoldsUmlautsAndSharpS) {
  EXPECT_EQ(FoldKey("Währung"), FoldKey("WÄHRUNG"));
  EXPECT_EQ(FoldKey("währung"), "WÄHRUNG");
  EXPECT_EQ(FoldKey("Straße"), "STRASSE");
  EXPECT_NE(FoldKey("Ä"), FoldKey("A"));
}

TEST(GermanText, OrdersUmlautsWithTheirBaseLetter) {
  EXPECT_EQ(CompareGerman("müller", "MÜLLER"), 0);
  EXPECT_EQ(CompareGerman("STRASSE", "straße"), 0);
  EXPECT_LT(CompareGerman("Apfel", "Äpfel"), 0);
  EXPECT_LT(CompareGerman("Äpfel", "Birne"), 0);  // not after Z as byte order would put it
  EXPECT_LT(CompareGerman("Zebra", "zz"), 0);
  EXPECT_GT(CompareGerman("Öl", "Ol"), 0);
  EXPECT_LT(CompareGerman("Öl", "Om"), 0);
}

TEST(GermanText, LikeBothSyntaxes) {
  EXPECT_TRUE(LikeGerman("ÄBC", "äb%", LikeSyntax::Sql));
  EXPECT_TRUE(LikeGerman("Straße", "STRA_SE", LikeSyntax::Sql));  // ß counts as SS
  EXPECT_TRUE(LikeGerman("a1", "a[0-9]", LikeSyntax::Sql));
  EXPECT_FALSE(LikeGerman("ab", "a[^b]", LikeSyntax::Sql));
  EXPECT_TRUE(LikeGerman("50%", "50!%", LikeSyntax::Sql, U'!'));
  EXPECT_FALSE(LikeGerman("500", "50!%", LikeSyntax::Sql, U'!'));
  EXPECT_TRUE(LikeGerman("Müllerstraße", "*STRASSE", LikeSyntax::Filter));
  EXPECT_TRUE(LikeGerman("a_b", "a_b", LikeSyntax::Filter));
  EXPECT_FALSE(LikeGerman("axb", "a_b", LikeSyntax::Filter));
  EXPECT_TRUE(LikeGerman("", "%", LikeSyntax::Filter));
}

TEST(GermanText, BytesThatAreNoUtf8) {
  // A Windows-1252 byte that came in unconverted still sorts and matches as its letter.
  EXPECT_EQ(CompareGerman("M\xE4rz", "MÄRZ"), 0);
  EXPECT_TRUE(LikeGerman("M\xE4rz", "mä%", LikeSyntax::Sql));
  // An overlong form is no letter: it neither folds to one nor equals one.
  EXPECT_EQ(FoldKey("\xC1\x81"), "\xC1\x81");
  EXPECT_NE(CompareGerman("\xC1\x81", "a"), 0);
  EXPECT_FALSE(LikeGerman("\xC1\x81", "a", LikeSyntax::Sql));
}

TEST(SqlSplit, SplitsAtStatementStartsOutsideLiterals) {
  auto parts =
      SplitBatch("\r\n\r\nUPDATE a SET x = 'one\r\nUPDATE b' WHERE k=1\r\n\r\nUPDATE b SET y=2");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_NE(parts[0].find("'one\r\nUPDATE b'"), std::string::npos);
  EXPECT_NE(parts[1].find("UPDATE b SET y=2"), std::string::npos);
}

TEST(SqlSplit, KeepsMultiLineStatementsTogether) {
  EXPECT_EQ(SplitBatch("SELECT a,\nb FROM t\nWHERE x IN (\nSELECT y FROM u)\nORDER BY a").size(),
            1u);
  EXPECT_EQ(SplitBatch("SELECT a FROM t\nUNION\nSELECT b FROM u").size(), 1u);
  EXPECT_EQ(SplitBatch("INSERT INTO t (a)\nSELECT b FROM u").size(), 1u);
  EXPECT_EQ(SplitBatch("SELECT\nREPLACE(a, 'x', 'y') FROM t").size(), 1u);
  EXPECT_EQ(SplitBatch("DELETE FROM t; DELETE FROM u;").size(), 2u);
  EXPECT_EQ(SplitBatch("INSERT INTO t VALUES (1)\nSELECT 2").size(), 2u);
}

TEST(SqlRewrite, TopBecomesLimit) {
  EXPECT_EQ(RewriteStatement("SELECT TOP 1 a FROM t ORDER BY a DESC ").text,
            "SELECT a FROM t ORDER BY a DESC LIMIT 1 ");
  EXPECT_EQ(RewriteStatement("select distinct top 5 a from t").text,
            "select distinct a from t LIMIT 5");
  EXPECT_EQ(
      RewriteStatement("SELECT a FROM t WHERE a IN (SELECT TOP 2 b FROM u ORDER BY b) AND c=1")
          .text,
      "SELECT a FROM t WHERE a IN (SELECT b FROM u ORDER BY b LIMIT 2) AND c=1");
  EXPECT_EQ(RewriteStatement("SELECT 'TOP 3' FROM t").text, "SELECT 'TOP 3' FROM t");
}

TEST(SqlRewrite, FoldsNonAsciiIdentifiersButNotLiterals) {
  auto st =
      RewriteStatement("select DSN from FLDART where Kürzel='Kürzel' and AD.STRAßE = 'Straße'");
  EXPECT_EQ(st.text, "select DSN from FLDART where KÜRZEL='Kürzel' and AD.STRASSE = 'Straße'");
  EXPECT_EQ(RewriteStatement("SELECT \"Währung\" FROM t").text, "SELECT \"WÄHRUNG\" FROM t");
  EXPECT_EQ(RewriteStatement("SELECT a FROM t WHERE b = 'it''s Köln'").text,
            "SELECT a FROM t WHERE b = 'it''s Köln'");
}

TEST(SqlRewrite, ExecBecomesProcedureCall) {
  auto st = RewriteStatement("exec TrackingFiles '{AB}','{C''D}'");
  ASSERT_TRUE(st.isExec);
  EXPECT_EQ(st.procedure, "TrackingFiles");
  ASSERT_EQ(st.args.size(), 2u);
  EXPECT_EQ(st.args[0], "{AB}");
  EXPECT_EQ(st.args[1], "{C'D}");
  auto bare = RewriteStatement("EXEC ObjTracking");
  EXPECT_TRUE(bare.isExec);
  EXPECT_TRUE(bare.args.empty());
  EXPECT_FALSE(RewriteStatement("SELECT exec FROM t").isExec);
}

TEST(SqlRewrite, RemembersCastColumnTypes) {
  auto st = RewriteStatement(
      " select dsn, cast('1' as tinyint) as uebertragen, (boersen_name) as beschriftung from b");
  ASSERT_EQ(st.castTypes.size(), 1u);
  EXPECT_EQ(st.castTypes[0].first, "UEBERTRAGEN");
  EXPECT_EQ(st.castTypes[0].second, "TINYINT");
}

TEST(SqlRewrite, NoticesJoinsInTheOuterQuery) {
  EXPECT_TRUE(RewriteStatement("SELECT o.* FROM obj o INNER JOIN b ON b.x = o.dsn").joined);
  EXPECT_TRUE(RewriteStatement("SELECT obj.* FROM obj, b WHERE b.x = obj.dsn").joined);
  EXPECT_TRUE(RewriteStatement("SELECT a FROM t UNION SELECT a FROM u").joined);
  EXPECT_FALSE(
      RewriteStatement("SELECT a, b FROM t WHERE a IN (SELECT x FROM u, v) ORDER BY a, b").joined);
  EXPECT_FALSE(RewriteStatement("Select * from obj where dsn = '{A}'").joined);
}
