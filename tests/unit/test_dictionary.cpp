#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "core/text.h"
#include "dictionary/dictionary.h"

namespace {

using dict::PARAMETERTYPE;
using dict::ZORNPARAMS;

const dict::ZORNPARAMREC& row(int number) { return ZORNPARAMS.at(static_cast<std::size_t>(number - 1)); }

TEST(Dictionary, TypeCounts) {
  std::map<PARAMETERTYPE, int> counts;
  for (const auto& r : ZORNPARAMS) ++counts[r.PARMTYPE];
  const std::map<PARAMETERTYPE, int> expected = {
      {PARAMETERTYPE::TYPE_UINT, 78},  {PARAMETERTYPE::TYPE_INT, 39},   {PARAMETERTYPE::TYPE_EWORD, 32},
      {PARAMETERTYPE::TYPE_FLAG, 14},  {PARAMETERTYPE::TYPE_LONG, 6},   {PARAMETERTYPE::TYPE_ULONG, 4},
      {PARAMETERTYPE::TYPE_PTR, 2},    {PARAMETERTYPE::TYPE_ELONG, 2},  {PARAMETERTYPE::TYPE_DOUBLE, 1},
  };
  EXPECT_EQ(counts, expected);
}

TEST(Dictionary, NamesAreUniqueWithoutCaseAndFitTheList) {
  std::set<std::string> seen;
  for (const auto& r : ZORNPARAMS) {
    const std::string name = r.PARMNAME;
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 24u) << name;
    EXPECT_TRUE(seen.insert(core::UPSTRING(name)).second) << name;
  }
}

TEST(Dictionary, LandmarkRowsAndOrder) {
  EXPECT_STREQ(row(1).PARMNAME, "null");
  EXPECT_EQ(row(1).PARMLOC, 0x0800);
  EXPECT_EQ(row(1).PARMTYPE, PARAMETERTYPE::TYPE_PTR);
  EXPECT_STREQ(row(9).PARMNAME, "kqp");
  EXPECT_EQ(row(9).PARMLOC, 0x0812);
  EXPECT_EQ(row(9).PARMTYPE, PARAMETERTYPE::TYPE_UINT);
  EXPECT_EQ(row(10).PARMTYPE, PARAMETERTYPE::TYPE_ULONG);
  EXPECT_STREQ(row(62).PARMNAME, "biggercookie");
  EXPECT_EQ(row(62).PARMLOC, 0x087E);
  EXPECT_EQ(row(62).PARMTYPE, PARAMETERTYPE::TYPE_DOUBLE);
  EXPECT_STREQ(row(138).PARMNAME, "NUcycleskips");
  EXPECT_STREQ(row(144).PARMNAME, "lastinclude");
  EXPECT_EQ(row(144).PARMLOC, dict::LASTINCLUDELOC);
  EXPECT_STREQ(row(145).PARMNAME, "nvmaxmodulei");
  EXPECT_EQ(row(145).PARMLOC, 0);
  EXPECT_EQ(row(151).PARMTYPE, PARAMETERTYPE::TYPE_ELONG);
  EXPECT_EQ(row(152).PARMLOC, row(151).PARMLOC);
  EXPECT_EQ(row(174).PARMLOC, 126);
  EXPECT_EQ(row(175).PARMLOC, 0xFFFF);
  EXPECT_STREQ(row(176).PARMNAME, "nvFBS");
  EXPECT_EQ(row(176).PARMLOC & 0xFFFF, 0xAC00);
  EXPECT_EQ(row(176).PARMTYPE, PARAMETERTYPE::TYPE_EWORD);
  EXPECT_STREQ(row(178).PARMNAME, "nvFPOR");
  EXPECT_EQ(row(178).PARMLOC, 0xF7AC0C);
  EXPECT_EQ(row(2).PARMLOC, row(3).PARMLOC);
}

TEST(Dictionary, RamRowsRiseAndStayInTheRegisterSpace) {
  for (int i = 2; i <= 144; ++i) {
    EXPECT_GE(row(i).PARMLOC, row(i - 1).PARMLOC) << row(i).PARMNAME;
    EXPECT_LE(row(i).PARMLOC, dict::LASTINCLUDELOC);
    EXPECT_EQ(row(i).PARMLOC % 2, 0) << row(i).PARMNAME;
  }
  for (int i = 145; i <= 174; ++i) EXPECT_LT(row(i).PARMLOC, dict::NVNUMBER) << row(i).PARMNAME;
}

TEST(Dictionary, NamedLocations) {
  EXPECT_EQ(dict::KQPLOC, 2066);
  EXPECT_EQ(dict::NVKQPLOC, 10);
  EXPECT_EQ(dict::NVFPORLOC, 16231436);
  EXPECT_EQ(dict::NULLLOC, 2048);
  EXPECT_EQ(dict::LASTINCLUDELOC, 2352);
  EXPECT_EQ(dict::NUCYCLESKIPSLOC, 0x0922);
  EXPECT_EQ(dict::NVADDRESSMASK, dict::NVNUMBER - 1);
  EXPECT_EQ(dict::TRUEFLOC, 65535);
  EXPECT_EQ(dict::FERR, 32768);
  EXPECT_EQ(dict::BAUD2500000, 9);
}

TEST(Dictionary, ErrorTable) {
  for (int i = 0; i < dict::LASTERROR; ++i) EXPECT_EQ(dict::ERRORRECORD[static_cast<std::size_t>(i)].ERRNUM, i + 1);
  EXPECT_STREQ(dict::ERRORRECORD[0].ERRSTR, "Time out waiting for Character");
  EXPECT_STREQ(dict::ERRORRECORD[dict::SSZALTRANSFERFAILED - 1].ERRSTR, "SSZAL Transfer Failed");
  EXPECT_STREQ(dict::ERRORRECORD[dict::LASTERROR - 1].ERRSTR, "");
}

TEST(Dictionary, ErrorTextsByCode) {
  EXPECT_EQ(dict::error_text(dict::SSZALTRANSFERFAILED), "SSZAL Transfer Failed");
  EXPECT_EQ(dict::error_text(dict::CHARTIMEOUTERR), "Time out waiting for Character");
  EXPECT_EQ(dict::error_text(40), "Error 40");
  EXPECT_EQ(dict::error_text(0), "Error 0");
}

}  // namespace
