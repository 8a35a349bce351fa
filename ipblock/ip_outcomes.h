#pragma once
// What the table operations report, and the one text each report is shown with. The dialogs
// show MessageOf(outcome) when it is not null and nothing otherwise, so they cannot pick a
// wrong text.

enum class BlockIpOutcome { kAdded, kDuplicate, kProtected, kDriverRefused };
enum class AddIpOuterOutcome { kAdded, kAllZero, kBlocked, kExists, kDriverRefused };
enum class RemoveIpOuterOutcome { kRemoved, kDriverRefused };

// For a block made by hand in the blocked-IP dialog; automatic blocks show nothing at all.
const char* MessageOf(BlockIpOutcome outcome);
const char* MessageOf(AddIpOuterOutcome outcome);
const char* MessageOf(RemoveIpOuterOutcome outcome);  // always null: nothing is shown
// ReleaseIpFilter's result: "解除失败!" when it failed, null when it released.
const char* ReleaseMessage(bool released);
// ReleaseAllIpFilters's result: a text either way.
const char* ReleaseAllMessage(bool released);
