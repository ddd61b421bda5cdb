// Calendar date and time: separate small date and time records (the classic DOS layout), a
// sequence number ordering values within the same second, conversion to seconds for
// comparing and stepping.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/api.h"

// DOS `date` record.
struct dosdate {
  std::int16_t da_year;
  char da_day;     // 1..31
  char da_mon;     // 1..12
};

// DOS `time` record.
struct dostime {
  unsigned char ti_min;
  unsigned char ti_hour;
  unsigned char ti_hund;   // hundredths of a second
  unsigned char ti_sec;
};

class QUORVEL_API CDateTime {
 public:
  CDateTime();                               // all fields zero, number 0
  CDateTime(dosdate d, dostime t);           // number 0
  CDateTime(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
            unsigned second);                // hundredths and number 0
  CDateTime(const CDateTime& other);
  ~CDateTime();
  // Copies date, time and number (not the work area).
  CDateTime& operator=(CDateTime other);

  dosdate* DosDate() { return &m_date; }
  dostime* DosTime() { return &m_time; }
  const dosdate* DosDate() const { return &m_date; }
  const dostime* DosTime() const { return &m_time; }

  int GetYear() const;
  char GetMonth() const;
  char GetDay() const;
  unsigned long GetNumber() const { return m_number; }
  void SetNumber(unsigned long number) { m_number = static_cast<std::uint32_t>(number); }

  // Seconds since 1970-01-01 00:00:00 with the fields read as local standard time (mktime with
  // the daylight-saving flag 0); -1 when the moment cannot be represented. Hundredths ignored.
  long Code() const;
  // Date and time (not hundredths nor number) from a count of seconds read as UTC.
  void Decode(long t);

  // Ordered by Code(), then by the number; hundredths never take part.
  bool operator==(CDateTime other) const;
  bool operator!=(CDateTime other) const;
  bool operator<(CDateTime other) const;
  bool operator>(CDateTime other) const;
  bool operator<=(CDateTime other) const;
  bool operator>=(CDateTime other) const;

  // Decode(Code() + 90000): in local standard time UTC+1, the same time of the next day.
  CDateTime& operator++();

  // "YYYY-MM-DD"; the time is not part of the text.
  std::string GetString() const;

 private:
  int compare(const CDateTime& other) const;

  mutable std::tm m_work;   // scratch area of Code(); carries nothing between calls
  dosdate m_date;
  dostime m_time;
  std::uint32_t m_number;
};

// The current local date and time (daylight saving applied), number 0.
QUORVEL_API CDateTime getCurrentDate();

// Job-file date "YYYY-MM-DD" (trimmed; separators not examined): year 1900..3000 (str2i),
// month 1..12 and day 1..31 (str2u). A failing part raises its own error (9, 10, 11), then
// error 19 with the whole text; also error 19 when the error number was already set.
// Always returns the value parsed so far, time 00:00:00.
QUORVEL_API CDateTime str2date(const char* text);
