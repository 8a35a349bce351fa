#pragma once
// The vendor service as the rest of the program uses it. The main window calls
// VendorServiceInit once at start-up (after CreateStatusMutex and the configuration load),
// then VendorServiceStartupPolls, and one function per timer duty.
#include <cstdint>
#include <string>

#include "alerts/alert_conditions.h"
#include "alerts/vendor_service.h"

struct CSettings;

// Host from TAVRICK_SERVICE_HOST, else settings.strServiceHost when usable (a refused one is
// logged), else the build-time host; machine id and alert title.
// settings must live as long as the process (the configuration the alerts read).
void VendorServiceInit(const CSettings& settings, const std::string& firstLocalIp);

// The host's IPv4 address in network order, so that its traffic is never blocked;
// false when the name does not resolve.
bool ResolveServiceIp(uint32_t& ip);

// The alert settings window saved another host (settings.strServiceHost): the next request
// goes to it, and g_dwServiceIp becomes its address, resolved again (the placeholder while it
// does not resolve). On the user-interface thread, which alone reads the host's name.
void VendorServiceHostChanged(const std::string& configured);

void VendorServiceStartupPolls();          // SMS balance, e-mail days, related-software list
// The user-interface thread never waits for the status lock: while a request holds it these
// two give false and the caller keeps what it shows.
bool VendorServiceTimer0(CStatusFigures& figures);  // 20 s: the figures to show ("条", "天")
void VendorServiceTimer1();                // 600 s: e-mail days, related-software list
void VendorServiceTimer3();                // 86,400 s: clock check
void VendorServiceTimer4();                // 60 s: heartbeat, SMS balance
bool VendorSoftList(std::vector<std::string>& list);  // 30 s: the related-software box
void VendorServiceRemotePoll();            // blocked-IP dialog timer 2, when fewer than 3 entries

// Alerts: handed to the outbox (alerts/alert_outbox.h) with the addresses of the settings
// now, so the caller never waits for the service; e-mail then SMS on the outbox's worker.
void DispatchAlert(const std::string& message);
// The program ends for a successor: the alerts still waiting go to a file beside the program,
// which the successor's VendorServiceInit queues again (and removes).
void SaveWaitingAlerts();
void SendAlert(const CAlert& alert);

// Full address of an endpoint path (browser pages, the version file), at the host in use now;
// any thread.
std::string ServiceUrl(const char* path);
