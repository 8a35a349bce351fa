#include "ipblock/ip_outcomes.h"

const char* MessageOf(BlockIpOutcome outcome) {
  switch (outcome) {
    case BlockIpOutcome::kDuplicate:
    case BlockIpOutcome::kProtected:
      return "添加失败!导致原因:此IP已在例外中,已经屏蔽IP,加入IP是本地IP。";
    case BlockIpOutcome::kDriverRefused:
    case BlockIpOutcome::kHeldBackPattern:  // automatic entries only
      return "添加失败!";
    case BlockIpOutcome::kAdded:
      break;
  }
  return nullptr;
}

EBlockRefusal RefusalOf(BlockIpOutcome outcome, EBlockProtection protection) {
  switch (outcome) {
    case BlockIpOutcome::kAdded:
    case BlockIpOutcome::kDuplicate:
      return EBlockRefusal::kNone;
    case BlockIpOutcome::kDriverRefused:
      return EBlockRefusal::kDriverRefused;
    case BlockIpOutcome::kHeldBackPattern:
      return EBlockRefusal::kHeldBackPattern;
    case BlockIpOutcome::kProtected:
      break;
  }
  switch (protection) {
    case EBlockProtection::kEveryHost:  // the server's own addresses among them
    case EBlockProtection::kOwnAddress:
      return EBlockRefusal::kOwnAddress;
    case EBlockProtection::kServiceHost:
      return EBlockRefusal::kServiceHost;
    case EBlockProtection::kNone:
    case EBlockProtection::kException:
      break;
  }
  return EBlockRefusal::kException;
}

const char* MessageOf(AddIpOuterOutcome outcome) {
  switch (outcome) {
    case AddIpOuterOutcome::kAllZero:
      return "IP地址不能输入0.0.0.0!";
    case AddIpOuterOutcome::kBlocked:
      return "IP已被冻结,请先解除再添加到例外中!";
    case AddIpOuterOutcome::kExists:
      return "例外中已存在IP!";
    case AddIpOuterOutcome::kAdded:
    case AddIpOuterOutcome::kDriverRefused:
      break;
  }
  return nullptr;
}

const char* MessageOf(RemoveIpOuterOutcome) { return nullptr; }

const char* ReleaseMessage(bool released) { return released ? nullptr : "解除失败!"; }

const char* ReleaseAllMessage(bool released) { return released ? "全部解除成功!" : "全部解除失败!"; }
