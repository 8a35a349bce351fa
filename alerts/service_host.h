#pragma once
// Where the vendor service lives: the host named by tavrick.cfg's [msg] servicehost (set in
// the alert settings window), else a build-time host; the environment variable
// TAVRICK_SERVICE_HOST (host or host:port) overrides both for trials and tests.
#include <cstdint>
#include <functional>
#include <string>

// Until the vendor's host is set for a shipping build, the program talks to the stand-in
// service on this machine only.
constexpr const char kDefaultServiceHost[] = "127.0.0.1:8086";
constexpr const char kServiceHostVariable[] = "TAVRICK_SERVICE_HOST";
// The key in the alert settings' section ("msg"); empty or missing means the build-time host.
constexpr const char kServiceHostKey[] = "servicehost";
// A DNS name's longest form; with ":" and five digits the longest text the key may hold.
constexpr size_t kMaxServiceHostName = 253;
// g_dwServiceIp while no address is known (common/process_state.h).
constexpr uint32_t kUnresolvedServiceIp = 100000;

struct CServiceHost {
  std::string strName;  // host name or dotted address
  uint16_t nPort = 80;
  // "http://name" or "http://name:port"; every endpoint path follows it.
  std::string BaseUrl() const;
};

// "host" or "host:port"; a missing or unusable port means 80.
CServiceHost ParseServiceHost(const std::string& text);

// The variable's value when set and not blank, else the build-time host.
CServiceHost ServiceHostFromEnvironment();

// Why a configured host text cannot be used ("" when it can): it is trimmed, then must be a
// host name (letters, digits, "-" and "." in labels of 1 to 63 bytes, none beginning or ending
// with "-", at most 253 bytes) or a dotted IPv4 address of four decimal octets, optionally
// followed by ":" and a port of 1 to 65535. Empty is usable: the build-time host.
std::string ServiceHostFault(const std::string& text);

// The host the program talks to and, when a configured value was passed over, the line that
// says why for the configuration log.
struct CServiceHostChoice {
  CServiceHost host;
  std::string strRefusal;
};
// variable (nullptr when unset) wins when not blank; then the configured value when usable;
// else the build-time host.
CServiceHostChoice ChooseServiceHost(const char* variable, const std::string& configured);

// The address the blockers spare for the host, in network order: a dotted address as it is,
// a name through resolve (true with the address when it resolves); kUnresolvedServiceIp when
// it does not, so that a host given up no longer shields its old address.
using ServiceResolver = std::function<bool(const std::string& name, uint32_t& ip)>;
uint32_t ServiceHostAddress(const std::string& name, const ServiceResolver& resolve);

// Endpoint paths.
namespace service_path {
constexpr const char kTimeStamp[] = "/tavrick/timestamp.jsp";
constexpr const char kVersionFile[] = "/tavrick/version.txt";
constexpr const char kSendMail[] = "/tavrick/sendemil.do";
constexpr const char kSendSms[] = "/tavrick/sendmsg.do";
constexpr const char kHeartbeat[] = "/tavrick/heartaction.do";
constexpr const char kSmsCount[] = "/tavrick/getmsgcount.jsp";
constexpr const char kMailDays[] = "/tavrick/getmailday.jsp";
constexpr const char kHomePage[] = "/tavrick/index.jsp";
constexpr const char kQuestionPage[] = "/tavrick/question.html";
constexpr const char kSoftList[] = "/tavrick/mysoft.jsp";
constexpr const char kUserPage[] = "/tavrick/user/index.jsp";
constexpr const char kRemoteCode[] = "/tavrick/user/code.jsp";
constexpr const char kNewSoft32[] = "/tavrick/newsoft/x86/";
constexpr const char kNewSoft64[] = "/tavrick/newsoft/x64/";
}  // namespace service_path
