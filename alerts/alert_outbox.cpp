#include "alerts/alert_outbox.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/clock.h"

namespace {
const char kMailChannel[] = "邮件";
const char kSmsChannel[] = "短信";

// Clears the working mark when the worker's thread was never created (its work is dropped).
struct CWorkerStartGuard {
  std::function<void()> notRun;
  std::atomic<bool> bRan{false};
  ~CWorkerStartGuard() {
    if (!bRan && notRun) notRun();
  }
};
}  // namespace

void CAlertOutbox::Send(const CAlert& alert) {
  if (alert.strEmail.empty() && alert.strPhone.empty()) return;
  CLetter letter;
  letter.alert = alert;
  letter.strTitle = m_ports.title ? m_ports.title() : std::string();
  letter.bMailDone = alert.strEmail.empty();
  letter.bSmsDone = alert.strPhone.empty();
  Queue(std::move(letter));
}

void CAlertOutbox::Queue(CLetter letter) {
  const CAlert alert = letter.alert;
  letter.tDue = m_ports.pClock->Now();
  bool queued = false, start = false;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_letters.size() < kMaxWaitingAlerts) {
      m_letters.push_back(std::move(letter));
      queued = true;
      start = !m_bWorking;
      m_bWorking = true;
    }
  }
  if (!queued) {
    if (m_ports.log) m_ports.log("提醒过多,未发出: " + alert.strMailText);
    return;
  }
  if (!start) return;
  auto guard = std::make_shared<CWorkerStartGuard>();
  guard->notRun = [this] {
    std::lock_guard<std::mutex> hold(m_lock);
    m_bWorking = false;  // the next alert starts a worker again
  };
  try {
    m_ports.pThreads->Start([this, guard] {
      guard->bRan = true;
      Work();
    });
  } catch (...) {
  }
}

size_t CAlertOutbox::Waiting() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_letters.size();
}

namespace {

// Fields of a waiting alert's line, separated by tabs; a tab, a line break or a backslash
// inside a field is written escaped with a backslash (t, n, r, or itself).
std::string Field(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      const char next = line[++i];
      fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

const char kWaitingMark[] = "alert1";

}  // namespace

std::string CAlertOutbox::WaitingText() {
  std::lock_guard<std::mutex> hold(m_lock);
  std::string text;
  for (size_t i = 0; i < m_letters.size(); ++i) {
    if (i == m_nSending) continue;
    const CLetter& letter = m_letters[i];
    const std::string fields[] = {kWaitingMark,
                                  letter.bMailDone ? "" : letter.alert.strEmail,
                                  letter.bSmsDone ? "" : letter.alert.strPhone,
                                  letter.alert.strMailText,
                                  letter.alert.strSmsText,
                                  letter.strTitle,
                                  std::to_string(letter.nTries)};
    std::string line;
    for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + Field(field);
    text += line + "\n";
  }
  return text;
}

void CAlertOutbox::Restore(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::vector<std::string> fields = Fields(text.substr(start, end - start));
    start = end + 1;
    if (fields.size() != 7 || fields[0] != kWaitingMark || (fields[1].empty() && fields[2].empty())) continue;
    CLetter letter;
    letter.alert = CAlert{fields[1], fields[2], fields[3], fields[4]};
    letter.strTitle = fields[5];
    letter.bMailDone = fields[1].empty();
    letter.bSmsDone = fields[2].empty();
    const int tries = std::atoi(fields[6].c_str());
    letter.nTries = tries > 0 && tries < kAlertTries ? tries : 0;
    Queue(std::move(letter));
  }
}

// Only this worker removes letters; others only append, so an index stays valid while the
// lock is let go for the requests.
void CAlertOutbox::Work() {
  for (;;) {
    size_t index = 0;
    CLetter letter;
    bool due = false;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_letters.empty()) {
        m_bWorking = false;
        return;
      }
      const int64_t now = m_ports.pClock->Now();
      for (; index < m_letters.size(); ++index) {
        if (m_letters[index].tDue <= now) {
          letter = m_letters[index];
          due = true;
          break;
        }
      }
    }
    if (!due) {
      m_ports.pauseSeconds(1);
      continue;
    }
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_nSending = index;
    }
    TryOnce(letter);
    const bool done = letter.bMailDone && letter.bSmsDone;
    if (!done && ++letter.nTries >= kAlertTries) {
      if (m_ports.log) m_ports.log("提醒放弃发送(已试" + std::to_string(kAlertTries) + "次): " + letter.alert.strMailText);
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_nSending = static_cast<size_t>(-1);
    if (done || letter.nTries >= kAlertTries) {
      m_letters.erase(m_letters.begin() + static_cast<std::ptrdiff_t>(index));
    } else {
      letter.tDue = m_ports.pClock->Now() + kAlertRetrySeconds[letter.nTries - 1];
      m_letters[index] = std::move(letter);
    }
  }
}

void CAlertOutbox::TryOnce(CLetter& letter) {
  const CAlert& alert = letter.alert;
  if (!letter.bMailDone) {
    TryChannel(kMailChannel, letter, letter.bMailDone,
               [&] { return m_ports.pChannels->SendMail(alert.strEmail, letter.strTitle, alert.strMailText); });
  }
  // The SMS never overtakes its e-mail: while the e-mail is to be tried again the SMS waits with
  // it, unless this is the alert's last try.
  const bool lastTry = letter.nTries + 1 >= kAlertTries;
  if (!letter.bSmsDone && (letter.bMailDone || lastTry)) {
    TryChannel(kSmsChannel, letter, letter.bSmsDone,
               [&] { return m_ports.pChannels->SendSms(alert.strPhone, letter.strTitle, alert.strSmsText); });
  }
}

void CAlertOutbox::TryChannel(const char* channel, CLetter& letter, bool& done,
                              const std::function<AlertDelivery()>& send) {
  AlertDelivery result = AlertDelivery::kUncertain;
  try {
    result = send();
  } catch (...) {
    result = AlertDelivery::kUncertain;  // how far it came is unknown
  }
  // One that may have reached the service counts as sent: never twice.
  done = result != AlertDelivery::kNotSent;
  if (result == AlertDelivery::kDelivered || !m_ports.log) return;
  if (result == AlertDelivery::kUncertain) {
    m_ports.log(std::string("提醒可能未送达(") + channel + ",服务无应答,不再重发): " + letter.alert.strMailText);
  } else {
    m_ports.log(std::string("提醒未发出(") + channel + ",第" + std::to_string(letter.nTries + 1) + "次,共" +
                std::to_string(kAlertTries) + "次): " + letter.alert.strMailText);
  }
}
