// Calendar date and time, and the job file's date parser.
#include "core/datetime.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/encoding.h"
#include "core/error_state.h"

CDateTime::CDateTime() : m_work{}, m_date{}, m_time{}, m_number(0) {}

CDateTime::CDateTime(dosdate d, dostime t) : m_work{}, m_date(d), m_time(t), m_number(0) {}

CDateTime::CDateTime(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                     unsigned second)
    : m_work{}, m_date{}, m_time{}, m_number(0) {
  m_date.da_year = static_cast<std::int16_t>(year);
  m_date.da_mon = static_cast<char>(month);
  m_date.da_day = static_cast<char>(day);
  m_time.ti_hour = static_cast<unsigned char>(hour);
  m_time.ti_min = static_cast<unsigned char>(minute);
  m_time.ti_sec = static_cast<unsigned char>(second);
}

CDateTime::CDateTime(const CDateTime& other)
    : m_work{}, m_date(other.m_date), m_time(other.m_time), m_number(other.m_number) {}

CDateTime::~CDateTime() = default;

CDateTime& CDateTime::operator=(CDateTime other) {
  m_date = other.m_date;
  m_time = other.m_time;
  m_number = other.m_number;
  return *this;
}


int CDateTime::GetYear() const { return m_date.da_year; }
char CDateTime::GetMonth() const { return m_date.da_mon; }
char CDateTime::GetDay() const { return m_date.da_day; }

long CDateTime::Code() const {
  m_work = std::tm{};
  m_work.tm_sec = m_time.ti_sec;
  m_work.tm_min = m_time.ti_min;
  m_work.tm_hour = m_time.ti_hour;
  m_work.tm_mday = static_cast<unsigned char>(m_date.da_day);
  m_work.tm_mon = static_cast<unsigned char>(m_date.da_mon) - 1;
  m_work.tm_year = m_date.da_year - 1900;
  m_work.tm_isdst = 0;  // always local standard time
  return static_cast<long>(std::mktime(&m_work));
}

void CDateTime::Decode(long t) {
  const std::time_t tt = t;
  std::tm parts{};
  if (gmtime_r(&tt, &parts) == nullptr) return;  // beyond what the calendar fields can hold
  m_date.da_year = static_cast<std::int16_t>(parts.tm_year + 1900);
  m_date.da_mon = static_cast<char>(parts.tm_mon + 1);
  m_date.da_day = static_cast<char>(parts.tm_mday);
  m_time.ti_hour = static_cast<unsigned char>(parts.tm_hour);
  m_time.ti_min = static_cast<unsigned char>(parts.tm_min);
  m_time.ti_sec = static_cast<unsigned char>(parts.tm_sec);
}

int CDateTime::compare(const CDateTime& other) const {
  const long a = Code();
  const long b = other.Code();
  if (a != b) return a < b ? -1 : 1;
  if (m_number != other.m_number) return m_number < other.m_number ? -1 : 1;
  return 0;
}

bool CDateTime::operator==(CDateTime other) const { return compare(other) == 0; }
bool CDateTime::operator!=(CDateTime other) const { return compare(other) != 0; }
bool CDateTime::operator<(CDateTime other) const { return compare(other) < 0; }
bool CDateTime::operator>(CDateTime other) const { return compare(other) > 0; }
bool CDateTime::operator<=(CDateTime other) const { return compare(other) <= 0; }
bool CDateTime::operator>=(CDateTime other) const { return compare(other) >= 0; }

// The step reads the fields as local standard time and writes them back as UTC: 25 hours
// later lands, where local standard time is UTC+1, on the same time of the next day.
CDateTime& CDateTime::operator++() {
  Decode(Code() + 90000);
  return *this;
}

std::string CDateTime::GetString() const {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", GetYear(), GetMonth(), GetDay());
  return text;
}

CDateTime getCurrentDate() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return CDateTime(static_cast<unsigned>(parts.tm_year + 1900), static_cast<unsigned>(parts.tm_mon + 1),
                   static_cast<unsigned>(parts.tm_mday), static_cast<unsigned>(parts.tm_hour),
                   static_cast<unsigned>(parts.tm_min), static_cast<unsigned>(parts.tm_sec));
}

CDateTime str2date(const char* text) {
  const char* s = text ? text : "";
  const char* b = s;
  const char* e = s + std::strlen(s);
  while (b < e && std::isspace(static_cast<unsigned char>(*b))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(e[-1]))) --e;
  const std::string t(b, e);
  auto part = [&t](std::size_t pos, std::size_t len) {
    return pos < t.size() ? t.substr(pos, len) : std::string();
  };

  CDateTime value;
  dosdate* d = value.DosDate();
  d->da_year = static_cast<std::int16_t>(str2i(part(0, 4).c_str(), 1900, 3000));
  if (GetErrorNum() == 0) d->da_mon = static_cast<char>(str2u(part(5, 2).c_str(), 1, 12));
  if (GetErrorNum() == 0) d->da_day = static_cast<char>(str2u(part(8, 2).c_str(), 1, 31));
  if (GetErrorNum() != 0) SetError(ERR_DATE_INVALID, s);
  return value;
}
