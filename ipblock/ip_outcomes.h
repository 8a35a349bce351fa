#pragma once
// What the table operations report, and the one text each report is shown with. The dialogs
// show MessageOf(outcome) when it is not null and nothing otherwise, so they cannot pick a
// wrong text.

// kHeldBackPattern: an automatic (exact) entry with a 0 octet while the driver has not said it
// honours the exact mark; that driver would read it as a pattern, so it is not sent.
enum class BlockIpOutcome { kAdded, kDuplicate, kProtected, kDriverRefused, kHeldBackPattern };
enum class AddIpOuterOutcome { kAdded, kAllZero, kBlocked, kExists, kDriverRefused };
enum class RemoveIpOuterOutcome { kRemoved, kDriverRefused };

// Which protection a refused entry reaches, the first found in this order.
enum class EBlockProtection { kNone, kEveryHost, kException, kOwnAddress, kServiceHost };

// Why an automatic block was not made, as the logon guard's table tells it: the protection it
// reached, the driver's refusal, the pattern a driver would have made of it, or an internal
// address the guard leaves alone.
enum class EBlockRefusal { kNone, kException, kOwnAddress, kServiceHost, kDriverRefused, kHeldBackPattern, kInternal };
EBlockRefusal RefusalOf(BlockIpOutcome outcome, EBlockProtection protection);

// For a block made by hand in the blocked-IP dialog; automatic blocks show nothing at all.
const char* MessageOf(BlockIpOutcome outcome);
const char* MessageOf(AddIpOuterOutcome outcome);
const char* MessageOf(RemoveIpOuterOutcome outcome);  // always null: nothing is shown
// ReleaseIpFilter's result: "解除失败!" when it failed, null when it released.
const char* ReleaseMessage(bool released);
// ReleaseAllIpFilters's result: a text either way.
const char* ReleaseAllMessage(bool released);
