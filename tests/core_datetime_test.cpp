// Date and time: the job file's date parser with its error numbers, ordering by seconds and
// sequence number, and the day step, under fixed time zones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "core/datetime.h"
#include "core/error_state.h"
#include "core/xml/raport_xml.h"
#include "platform/cp1250.h"
#include "tests/support/test_support.h"

namespace {

// Runs a test under a given TZ and restores the previous one.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (previous_)
      setenv("TZ", previous_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> previous_;
};

long utcSeconds(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return static_cast<long>(timegm(&t));
}

std::string stamp(const CDateTime& d) {
  const dostime* t = d.DosTime();
  char text[64];
  std::snprintf(text, sizeof text, "%s %02d:%02d:%02d", d.GetString().c_str(), t->ti_hour, t->ti_min,
                t->ti_sec);
  return text;
}

}  // namespace

TEST(DateText, FourDigitYearMonthDay) {
  EXPECT_EQ(CDateTime(2007, 4, 6, 10, 20, 30).GetString(), "2007-04-06");
  EXPECT_EQ(CDateTime(800, 1, 2, 0, 0, 0).GetString(), "0800-01-02");
}

TEST(DateParser, AcceptsJobDatesAndReportsBadParts) {
  struct Case {
    const char* text;
    int year, month, day;
    int error;
  } cases[] = {
      {"2007-04-06", 2007, 4, 6, 0},
      {"  2007-04-06 ", 2007, 4, 6, 0},
      {"2007/04/06", 2007, 4, 6, 0},        // separators are not examined
      {"2007-02-31", 2007, 2, 31, 0},       // nor the length of the month
      {"2007-04-06T10:00", 2007, 4, 6, 0},  // nor anything after the day
      {"3000-12-31", 3000, 12, 31, 0},
      {"1900-01-01", 1900, 1, 1, 0},
      {"2007-4-6", 2007, 4, 0, ERR_DATE_INVALID},  // "4-" parses as 4, then fails
      {"1899-12-31", 1899, 0, 0, ERR_DATE_INVALID},
      {"3001-01-01", 3001, 0, 0, ERR_DATE_INVALID},
      {"2007-13-01", 2007, 13, 0, ERR_DATE_INVALID},
      {"2007-00-10", 2007, 0, 0, ERR_DATE_INVALID},
      {"2007-12-32", 2007, 12, 32, ERR_DATE_INVALID},
      {"2007-12-00", 2007, 12, 0, ERR_DATE_INVALID},
      {"2007", 2007, 0, 0, ERR_DATE_INVALID},
      {"", 0, 0, 0, ERR_DATE_INVALID},
      {"abcd-01-01", 0, 0, 0, ERR_DATE_INVALID},
      {"2007-01--1", 2007, 1, 0, ERR_DATE_INVALID},
  };
  for (const auto& c : cases) {
    ClearError("");
    const CDateTime d = str2date(c.text);
    EXPECT_EQ(GetErrorNum(), c.error) << '"' << c.text << '"';
    EXPECT_EQ(d.GetYear(), c.year) << '"' << c.text << '"';
    EXPECT_EQ(d.GetMonth(), c.month) << '"' << c.text << '"';
    EXPECT_EQ(d.GetDay(), c.day) << '"' << c.text << '"';
    EXPECT_EQ(d.GetNumber(), 0u);
    if (c.error) {
      EXPECT_EQ(std::string(GetErrorMsg()), *c.text ? std::string("Nieprawidłowa data "_cp) + c.text
                                                     : std::string("Nieprawidłowa data"_cp));
    } else {
      EXPECT_EQ(d.DosTime()->ti_hour + d.DosTime()->ti_min + d.DosTime()->ti_sec, 0);
    }
  }
  // An error left over from an earlier value also marks the date as invalid.
  ClearError("");
  SetError(ERR_INT_INVALID, "x");
  str2date("2007-04-06");
  EXPECT_EQ(GetErrorNum(), ERR_DATE_INVALID);
  ClearError("");
}

TEST(DateParser, ThePartsErrorComesFirstInTheReport) {
  struct Case {
    const char* text;
    const char* partMessage;
  } cases[] = {
      {"2007-4-6", "Nieprawidłowa liczba całkowita 4-"_cp},
      {"1899-12-31", "Liczba całkowita poniżej dopuszczalnego zakresu 1899"_cp},
      {"2007-13-01", "Liczba całkowita powyżej dopuszczalnego zakresu 13"_cp},
  };
  for (const auto& c : cases) {
    quorvel::test::ScratchDir dir;
    {
      CRaportXml raport;
      ErrorSetRaport(&raport);
      ClearError("");
      str2date(c.text);
      ErrorSetRaport(nullptr);
    }
    const std::string xml = quorvel::test::readFile(dir.file("RAPORT.XML"));
    const auto part = xml.find(c.partMessage);
    const auto date = xml.find(std::string("Nieprawidłowa data "_cp) + c.text);
    EXPECT_NE(part, std::string::npos) << quorvel::test::cp1250ToUtf8(xml);
    EXPECT_NE(date, std::string::npos) << quorvel::test::cp1250ToUtf8(xml);
    EXPECT_LT(part, date);
  }
  ClearError("");
}

TEST(DateOrder, SecondsFirstThenSequenceNumbersHundredthsNever) {
  TimeZone tz("CET-1");
  CDateTime a(2007, 4, 6, 10, 0, 0), b(2007, 4, 6, 10, 0, 0);
  a.SetNumber(2);
  b.SetNumber(1);
  EXPECT_TRUE(b < a);
  EXPECT_TRUE(a > b);
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(b <= a && a >= b);
  b.SetNumber(2);
  b.DosTime()->ti_hund = 99;
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a <= b && a >= b);
  EXPECT_FALSE(a < b || a > b);

  CDateTime later(2007, 4, 6, 10, 0, 1);  // number 0, but a second later
  EXPECT_TRUE(a < later);
  // Beyond 2038 the count of seconds still orders correctly.
  EXPECT_TRUE(CDateTime(2030, 1, 1, 0, 0, 0) < CDateTime(2040, 1, 1, 0, 0, 0));
  EXPECT_TRUE(CDateTime(2999, 12, 31, 0, 0, 0) > CDateTime(1900, 1, 1, 0, 0, 0));

  CDateTime copy;
  copy = a;
  EXPECT_EQ(copy.GetNumber(), 2u);
  EXPECT_TRUE(copy == a);
}

TEST(DateCode, LocalStandardTimeEvenInSummer) {
  {
    TimeZone tz("UTC0");
    EXPECT_EQ(CDateTime(1970, 1, 2, 0, 0, 0).Code(), 86400);
  }
  {
    TimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(CDateTime(1970, 1, 1, 1, 0, 0).Code(), 0);
    // The daylight-saving flag is forced off: a summer time is read as standard time.
    EXPECT_EQ(CDateTime(2007, 7, 1, 12, 0, 0).Code(), utcSeconds(2007, 7, 1, 11, 0, 0));
  }
  CDateTime d(2000, 1, 1, 0, 0, 0);
  d.Decode(utcSeconds(2008, 2, 29, 13, 14, 15));
  EXPECT_EQ(stamp(d), "2008-02-29 13:14:15");
}

TEST(DateStep, NextDaySameTimeAtUtcPlusOne) {
  TimeZone tz("CET-1");
  struct Case {
    CDateTime from;
    const char* to;
  } cases[] = {
      {CDateTime(2007, 12, 31, 12, 0, 0), "2008-01-01 12:00:00"},
      {CDateTime(2008, 2, 28, 23, 30, 0), "2008-02-29 23:30:00"},
      {CDateTime(2007, 2, 28, 0, 0, 1), "2007-03-01 00:00:01"},
  };
  for (auto& c : cases) {
    c.from.SetNumber(7);
    c.from.DosTime()->ti_hund = 42;
    CDateTime& r = ++c.from;
    EXPECT_EQ(&r, &c.from);
    EXPECT_EQ(stamp(c.from), c.to);
    EXPECT_EQ(c.from.GetNumber(), 7u);
    EXPECT_EQ(c.from.DosTime()->ti_hund, 42);
  }
}

TEST(DateNow, CurrentDateIsTheLocalClock) {
  TimeZone tz("UTC0");
  const long before = static_cast<long>(std::time(nullptr));
  const CDateTime now = getCurrentDate();
  const long after = static_cast<long>(std::time(nullptr));
  EXPECT_GE(now.Code(), before);
  EXPECT_LE(now.Code(), after);
  EXPECT_EQ(now.GetNumber(), 0u);
}
