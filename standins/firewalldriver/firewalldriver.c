/*
 * firewalldriver.sys: a kernel-mode packet filter for test and demonstration machines.
 *
 * It creates \Device\FIREWALLDRIVER (opened from user mode as \\.\FIREWALLDRIVER) and keeps
 * an exception table, a blocked table and an ICMP rule. It sees no real network traffic:
 * packets are handed to it through an injection request, filtered by the tables and, when they
 * pass, recorded in a ring that the client fetches in batches. Only administrators and SYSTEM
 * may open the device, and the injection, counter and reset requests exist only when the
 * driver was loaded in test mode. See README.md for every control code and record.
 */
#include <ddk/wdm.h>

#include "fw_match.h"

#define FW_DEVICE_TYPE 0x22
#define FW_CODE(fn, method) (((ULONG)FW_DEVICE_TYPE << 16) | ((ULONG)(fn) << 2) | (method))

#define IOCTL_FW_SET FW_CODE(0x802, METHOD_BUFFERED)          /* 0x222008 */
#define IOCTL_FW_REMOVE FW_CODE(0x802, METHOD_IN_DIRECT)      /* 0x222009 */
#define IOCTL_FW_QUERY FW_CODE(0x804, METHOD_BUFFERED)        /* 0x222010 */
#define IOCTL_FW_PING FW_CODE(0x804, METHOD_IN_DIRECT)        /* 0x222011 */
/* Our own codes, for traffic tools and tests; clients of the filter never send them. */
#define IOCTL_FW_INJECT FW_CODE(0x808, METHOD_BUFFERED)       /* 0x222020 */
#define IOCTL_FW_COUNTERS FW_CODE(0x809, METHOD_BUFFERED)     /* 0x222024 */
#define IOCTL_FW_RESET FW_CODE(0x80A, METHOD_BUFFERED)        /* 0x222028 */

#define FW_VERSION 1
#define FW_SLOTS 20000
#define FW_MAX_EXCEPTIONS 1024
#define FW_MAX_BLOCKED 4096
#define FW_TAG 0x52445746 /* 'FWDR' */
/* One injection request: at most this many records, each repeated at most FW_SLOTS times, so a
 * request holds the table lock for a bounded time. */
#define FW_MAX_INJECT_RECORDS 1024
#define FW_MAX_INJECT_TOTAL 100000

/* Records of the wire interface (the two table records are fw_match.h's); all integers
 * little-endian, addresses in network order. */
typedef struct FW_STATUS {
  LONG nVersion;
  LONG nReady;
} FW_STATUS;

typedef struct FW_PING {
  CHAR szProtocol[32];
  ULONG dwValue;
} FW_PING;

typedef struct FW_PACKET {
  CHAR szProtocol[32];
  ULONG dwSrcIP;
  ULONG dwDstIP;
  USHORT wSrcPort;
  USHORT wDstPort;
  ULONG dwReserved; /* here: 1 when the packet left the server */
  ULONG dwSize;
  CHAR szTime[32];
} FW_PACKET;

#define FW_SNAP_START (sizeof(FW_PACKET) * FW_SLOTS)
#define FW_SNAP_SIZE (FW_SNAP_START + 4 + 2 * 4 * FW_SLOTS)

/* One injected packet description (IOCTL_FW_INJECT input is a whole number of these). */
typedef struct FW_INJECT {
  ULONG nProtocol; /* 1 ICMP, 6 TCP, 17 UDP, other: "IP" */
  ULONG dwSrcIP;
  ULONG dwDstIP;
  USHORT wSrcPort; /* host order */
  USHORT wDstPort;
  ULONG dwSize;
  ULONG dwCount; /* the same packet this many times; 0 counts as 1 */
  ULONG dwFlags; /* bit 0: the packet leaves the server */
} FW_INJECT;

typedef struct FW_INJECT_RESULT {
  ULONG dwRecorded;
  ULONG dwDropped;
} FW_INJECT_RESULT;

/* IOCTL_FW_COUNTERS output: this header, then the exceptions, then the blocked entries. */
typedef struct FW_COUNTERS {
  ULONG dwFiltering;
  ULONG dwInjected;
  ULONG dwRecorded;
  ULONG dwDroppedBlocked;
  ULONG dwDroppedPing;
  ULONG dwOverwritten;
  ULONG dwPending;
  ULONG dwFetches;
  ULONG nExceptions;
  ULONG nBlocked;
  ULONG dwPingActive;
  FW_PING ping;
} FW_COUNTERS;

_Static_assert(sizeof(FW_STATUS) == 8, "status record");
_Static_assert(sizeof(FW_PING) == 36, "ping record");
_Static_assert(sizeof(FW_PACKET) == 84, "packet record");
_Static_assert(FW_SNAP_SIZE == 1840004, "snapshot");
_Static_assert(sizeof(FW_INJECT) == 28, "injection record");
_Static_assert(sizeof(FW_INJECT_RESULT) == 8, "injection result");
_Static_assert(sizeof(FW_COUNTERS) == 80, "counters header");

#define FW_RESET_PACKETS 1u /* captured ring and counters */
#define FW_RESET_TABLES 2u  /* both tables, the ICMP rule, filtering off */

int __cdecl _snprintf(char* buffer, size_t count, const char* format, ...);
NTSYSAPI NTSTATUS NTAPI ZwQuerySystemInformation(ULONG infoClass, PVOID info, ULONG length,
                                                 PULONG returned);

typedef struct FW_STATE {
  KMUTEX lock;
  BOOLEAN filtering;
  ULONG nExceptions;
  FW_OUTER exceptions[FW_MAX_EXCEPTIONS];
  ULONG nBlocked;
  FW_FILTER blocked[FW_MAX_BLOCKED];
  BOOLEAN pingActive;
  FW_PING ping;
  FW_PACKET* ring; /* FW_SLOTS records, FIFO of packets not fetched yet */
  ULONG ringHead;  /* oldest pending */
  ULONG ringCount;
  ULONG nextStart; /* slot where the next batch begins */
  ULONG injected, recorded, droppedBlocked, droppedPing, overwritten, fetches;
} FW_STATE;

static FW_STATE* g_state;
static PDEVICE_OBJECT g_device;
static BOOLEAN g_linkCreated;
static BOOLEAN g_testMode; /* the test-only requests are answered */
static UNICODE_STRING g_deviceName;
static UNICODE_STRING g_linkName;

static void Lock(void) {
  KeWaitForSingleObject(&g_state->lock, Executive, KernelMode, FALSE, NULL);
}

static void Unlock(void) { KeReleaseMutex(&g_state->lock, FALSE); }

static void Zero(void* p, SIZE_T n) { RtlZeroMemory(p, n); }

/* Every byte of out is written: the text, then zeros (the whole field reaches user mode). */
static void LocalTimeText(CHAR* out, SIZE_T size) {
  UCHAR info[48];
  ULONG got = 0;
  LARGE_INTEGER now, local;
  TIME_FIELDS tf;
  Zero(out, size);
  Zero(info, sizeof info);
  if (!NT_SUCCESS(ZwQuerySystemInformation(3, info, sizeof info, &got))) return;
  RtlCopyMemory(&now, info + 8, sizeof now);
  ExSystemTimeToLocalTime(&now, &local);
  RtlTimeToTimeFields(&local, &tf);
  _snprintf(out, size - 1, "%04d-%02d-%02d %02d:%02d:%02d", tf.Year, tf.Month, tf.Day, tf.Hour,
            tf.Minute, tf.Second);
  out[size - 1] = 0;
}

static void CopyText(CHAR* to, const char* from) {
  int i = 0;
  while (from[i] && i < 31) {
    to[i] = from[i];
    ++i;
  }
  to[i] = 0;
}

static void Record(const FW_INJECT* p, BOOLEAN outgoing, const CHAR* timeText) {
  FW_PACKET* slot;
  ULONG index;
  if (g_state->ringCount == FW_SLOTS) {
    /* Full: the oldest unfetched packet makes room. */
    g_state->ringHead = (g_state->ringHead + 1) % FW_SLOTS;
    --g_state->ringCount;
    ++g_state->overwritten;
  }
  index = (g_state->ringHead + g_state->ringCount) % FW_SLOTS;
  slot = &g_state->ring[index];
  Zero(slot, sizeof *slot);
  CopyText(slot->szProtocol, p->nProtocol == 1 ? "ICMP"
                             : p->nProtocol == 6 ? "TCP"
                             : p->nProtocol == 17 ? "UDP"
                                                  : "IP");
  slot->dwSrcIP = p->dwSrcIP;
  slot->dwDstIP = p->dwDstIP;
  slot->wSrcPort = p->wSrcPort;
  slot->wDstPort = p->wDstPort;
  slot->dwReserved = outgoing ? 1 : 0;
  slot->dwSize = p->dwSize ? p->dwSize : 1;
  RtlCopyMemory(slot->szTime, timeText, 32);
  ++g_state->ringCount;
  ++g_state->recorded;
}

static BOOLEAN InjectWithinBounds(const FW_INJECT* packets, ULONG n) {
  ULONG i, total = 0;
  if (n > FW_MAX_INJECT_RECORDS) return FALSE;
  for (i = 0; i < n; ++i) {
    const ULONG count = packets[i].dwCount ? packets[i].dwCount : 1;
    if (count > FW_SLOTS) return FALSE;
    total += count;
  }
  return total <= FW_MAX_INJECT_TOTAL;
}

static NTSTATUS Inject(const FW_INJECT* packets, ULONG n, FW_INJECT_RESULT* result) {
  CHAR timeText[32];
  ULONG i, k;
  FW_TABLES tables;
  if (!InjectWithinBounds(packets, n)) return STATUS_INVALID_PARAMETER;
  LocalTimeText(timeText, sizeof timeText);
  tables.filtering = g_state->filtering;
  tables.exceptions = g_state->exceptions;
  tables.nExceptions = g_state->nExceptions;
  tables.blocked = g_state->blocked;
  tables.nBlocked = g_state->nBlocked;
  tables.pingActive = g_state->pingActive;
  tables.pingValue = g_state->ping.dwValue;
  for (i = 0; i < n; ++i) {
    const FW_INJECT* p = &packets[i];
    const BOOLEAN outgoing = (p->dwFlags & 1) != 0;
    const ULONG count = p->dwCount ? p->dwCount : 1;
    FW_PACKET_VIEW view;
    int verdict;
    view.nProtocol = p->nProtocol;
    view.dwSrcIP = p->dwSrcIP;
    view.dwDstIP = p->dwDstIP;
    view.wSrcPort = p->wSrcPort;
    view.wDstPort = p->wDstPort;
    view.outgoing = outgoing;
    verdict = FwDecide(&tables, &view);
    for (k = 0; k < count; ++k) {
      ++g_state->injected;
      if (verdict == FW_DROP_PING) {
        ++g_state->droppedPing;
        ++result->dwDropped;
      } else if (verdict == FW_DROP_BLOCKED) {
        ++g_state->droppedBlocked;
        ++result->dwDropped;
      } else {
        Record(p, outgoing, timeText);
        ++result->dwRecorded;
      }
    }
  }
  return STATUS_SUCCESS;
}

/* The batch starts at nextStart and never runs past the last slot, so a reader walking from
 * nStart meets the batch in order and stops at the first empty slot (or the end). */
static void FillSnapshot(UCHAR* out) {
  FW_PACKET* slots = (FW_PACKET*)out;
  ULONG k = g_state->ringCount, i, start;
  Zero(out, FW_SNAP_SIZE);
  if (g_state->nextStart + k > FW_SLOTS) g_state->nextStart = 0;
  start = g_state->nextStart;
  for (i = 0; i < k; ++i) {
    slots[start + i] = g_state->ring[(g_state->ringHead + i) % FW_SLOTS];
  }
  RtlCopyMemory(out + FW_SNAP_START, &start, 4);
  g_state->ringHead = (g_state->ringHead + k) % FW_SLOTS;
  g_state->ringCount = 0;
  g_state->nextStart = (start + k) % FW_SLOTS;
  ++g_state->fetches;
}

static NTSTATUS AddException(const FW_OUTER* e) {
  ULONG i;
  for (i = 0; i < g_state->nExceptions; ++i) {
    if (g_state->exceptions[i].dwIp == e->dwIp && g_state->exceptions[i].dwPort == e->dwPort) {
      return STATUS_SUCCESS;
    }
  }
  if (g_state->nExceptions == FW_MAX_EXCEPTIONS) return STATUS_INSUFFICIENT_RESOURCES;
  g_state->exceptions[g_state->nExceptions++] = *e;
  return STATUS_SUCCESS;
}

static NTSTATUS RemoveException(const FW_OUTER* e) {
  ULONG i;
  for (i = 0; i < g_state->nExceptions; ++i) {
    if (g_state->exceptions[i].dwIp == e->dwIp && g_state->exceptions[i].dwPort == e->dwPort) {
      g_state->exceptions[i] = g_state->exceptions[--g_state->nExceptions];
      break;
    }
  }
  return STATUS_SUCCESS; /* an entry that is not there is already removed */
}

static NTSTATUS AddBlocked(const FW_FILTER* f) {
  ULONG i;
  for (i = 0; i < g_state->nBlocked; ++i) {
    if (g_state->blocked[i].dwIp == f->dwIp && g_state->blocked[i].dwPort == f->dwPort) {
      g_state->blocked[i] = *f;
      return STATUS_SUCCESS;
    }
  }
  if (g_state->nBlocked == FW_MAX_BLOCKED) return STATUS_INSUFFICIENT_RESOURCES;
  g_state->blocked[g_state->nBlocked++] = *f;
  return STATUS_SUCCESS;
}

static NTSTATUS RemoveBlocked(const FW_FILTER* f) {
  ULONG i;
  for (i = 0; i < g_state->nBlocked; ++i) {
    if (g_state->blocked[i].dwIp == f->dwIp && g_state->blocked[i].dwPort == f->dwPort) {
      /* Keep the order of the others: the counters request lists them as added. */
      RtlMoveMemory(&g_state->blocked[i], &g_state->blocked[i + 1],
                    (g_state->nBlocked - i - 1) * sizeof(FW_FILTER));
      --g_state->nBlocked;
      break;
    }
  }
  return STATUS_SUCCESS;
}

static ULONG Counters(UCHAR* out, ULONG outSize) {
  FW_COUNTERS c;
  ULONG used = sizeof c, n;
  Zero(&c, sizeof c);
  c.dwFiltering = g_state->filtering;
  c.dwInjected = g_state->injected;
  c.dwRecorded = g_state->recorded;
  c.dwDroppedBlocked = g_state->droppedBlocked;
  c.dwDroppedPing = g_state->droppedPing;
  c.dwOverwritten = g_state->overwritten;
  c.dwPending = g_state->ringCount;
  c.dwFetches = g_state->fetches;
  c.nExceptions = g_state->nExceptions;
  c.nBlocked = g_state->nBlocked;
  c.dwPingActive = g_state->pingActive;
  c.ping = g_state->ping;
  RtlCopyMemory(out, &c, sizeof c);
  n = g_state->nExceptions * sizeof(FW_OUTER);
  if (used + n > outSize) return used;
  RtlCopyMemory(out + used, g_state->exceptions, n);
  used += n;
  n = g_state->nBlocked * sizeof(FW_FILTER);
  if (used + n > outSize) return used;
  RtlCopyMemory(out + used, g_state->blocked, n);
  return used + n;
}

static void Reset(ULONG what) {
  if (what & FW_RESET_PACKETS) {
    g_state->ringHead = g_state->ringCount = g_state->nextStart = 0;
    g_state->injected = g_state->recorded = g_state->droppedBlocked = 0;
    g_state->droppedPing = g_state->overwritten = g_state->fetches = 0;
  }
  if (what & FW_RESET_TABLES) {
    g_state->nExceptions = g_state->nBlocked = 0;
    g_state->pingActive = FALSE;
    Zero(&g_state->ping, sizeof g_state->ping);
    g_state->filtering = FALSE;
  }
}

static ULONG ReadUlong(const void* p) {
  ULONG v;
  RtlCopyMemory(&v, p, 4);
  return v;
}

static BOOLEAN TestOnly(ULONG code) {
  return code == IOCTL_FW_INJECT || code == IOCTL_FW_COUNTERS || code == IOCTL_FW_RESET;
}

static NTSTATUS Control(ULONG code, UCHAR* buf, ULONG inSize, ULONG outSize, ULONG_PTR* info) {
  /* Outside test mode the driver knows only the program's requests. */
  if (TestOnly(code) && !g_testMode) return STATUS_INVALID_DEVICE_REQUEST;
  switch (code) {
    case IOCTL_FW_SET:
      if (inSize == 4) {
        const ULONG v = ReadUlong(buf);
        if (v > 1) return STATUS_INVALID_PARAMETER;
        g_state->filtering = v == 1;
        return STATUS_SUCCESS;
      }
      if (inSize == sizeof(FW_OUTER)) return AddException((const FW_OUTER*)buf);
      if (inSize == sizeof(FW_FILTER)) return AddBlocked((const FW_FILTER*)buf);
      return STATUS_INVALID_PARAMETER;
    case IOCTL_FW_REMOVE:
      if (inSize == 4) {
        if (ReadUlong(buf) != 0) return STATUS_INVALID_PARAMETER;
        g_state->nBlocked = 0;
        return STATUS_SUCCESS;
      }
      if (inSize == sizeof(FW_OUTER)) return RemoveException((const FW_OUTER*)buf);
      if (inSize == sizeof(FW_FILTER)) return RemoveBlocked((const FW_FILTER*)buf);
      return STATUS_INVALID_PARAMETER;
    case IOCTL_FW_QUERY:
      if (inSize == 0) {
        FW_STATUS s;
        if (outSize < sizeof s) return STATUS_BUFFER_TOO_SMALL;
        s.nVersion = FW_VERSION;
        s.nReady = 1;
        RtlCopyMemory(buf, &s, sizeof s);
        *info = sizeof s;
        /* Room after the status: say that entries marked exact are matched exactly. */
        if (outSize >= sizeof s + sizeof(ULONG)) {
          const ULONG mark = FW_EXACT_MARK;
          RtlCopyMemory(buf + sizeof s, &mark, sizeof mark);
          *info = sizeof s + sizeof mark;
        }
        return STATUS_SUCCESS;
      }
      if (inSize == 4 && ReadUlong(buf) == 3) {
        if (outSize < FW_SNAP_SIZE) return STATUS_BUFFER_TOO_SMALL;
        FillSnapshot(buf);
        *info = FW_SNAP_SIZE;
        return STATUS_SUCCESS;
      }
      return STATUS_INVALID_PARAMETER;
    case IOCTL_FW_PING: {
      FW_PING rule;
      if (inSize != sizeof rule) return STATUS_INVALID_PARAMETER;
      RtlCopyMemory(&rule, buf, sizeof rule);
      rule.szProtocol[31] = 0;
      if (rule.szProtocol[0] == '0' && rule.szProtocol[1] == 0) {
        g_state->pingActive = FALSE;
      } else if (rule.szProtocol[0] == 'I' && rule.szProtocol[1] == 'C' &&
                 rule.szProtocol[2] == 'M' && rule.szProtocol[3] == 'P' &&
                 rule.szProtocol[4] == 0) {
        g_state->pingActive = TRUE;
      } else {
        return STATUS_INVALID_PARAMETER;
      }
      g_state->ping = rule;
      return STATUS_SUCCESS;
    }
    case IOCTL_FW_INJECT: {
      FW_INJECT_RESULT r = {0, 0};
      NTSTATUS st;
      if (inSize == 0 || inSize % sizeof(FW_INJECT) != 0) return STATUS_INVALID_PARAMETER;
      st = Inject((const FW_INJECT*)buf, inSize / sizeof(FW_INJECT), &r);
      if (outSize >= sizeof r) {
        RtlCopyMemory(buf, &r, sizeof r);
        *info = sizeof r;
      }
      return st;
    }
    case IOCTL_FW_COUNTERS:
      if (outSize < sizeof(FW_COUNTERS)) return STATUS_BUFFER_TOO_SMALL;
      *info = Counters(buf, outSize);
      return STATUS_SUCCESS;
    case IOCTL_FW_RESET:
      if (inSize != 4) return STATUS_INVALID_PARAMETER;
      Reset(ReadUlong(buf));
      return STATUS_SUCCESS;
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR info) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = info;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* The device has no names below it: \\.\FIREWALLDRIVER\anything is refused. */
static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  (void)device;
  if (stack->FileObject && stack->FileObject->FileName.Length != 0) {
    return Complete(irp, STATUS_OBJECT_PATH_NOT_FOUND, 0);
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buf = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  ULONG_PTR info = 0;
  NTSTATUS status;
  (void)device;
  if (buf == NULL && (inSize != 0 || outSize != 0)) {
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  /* Direct-method requests carry no output here; only their input is read. */
  Lock();
  status = Control(code, buf, inSize, outSize, &info);
  Unlock();
  return Complete(irp, status, NT_SUCCESS(status) ? info : 0);
}

/* Deletes exactly what DriverEntry made: a link of the same name that another driver owns is
 * left alone. */
static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  (void)driver;
  if (g_linkCreated) IoDeleteSymbolicLink(&g_linkName);
  g_linkCreated = FALSE;
  if (g_device) IoDeleteDevice(g_device);
  g_device = NULL;
  if (g_state) {
    if (g_state->ring) ExFreePoolWithTag(g_state->ring, FW_TAG);
    ExFreePoolWithTag(g_state, FW_TAG);
  }
  g_state = NULL;
}

/* Test mode: the DWORD value TestMode, non-zero, under the driver's service key. The test
 * harness and the demo set it; the installer never does. */
static BOOLEAN ReadTestMode(PUNICODE_STRING registryPath) {
  OBJECT_ATTRIBUTES attributes;
  UNICODE_STRING name;
  HANDLE key;
  ULONG got = 0;
  ULONG buffer[(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG) + 3) / 4]; /* aligned */
  PKEY_VALUE_PARTIAL_INFORMATION value = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
  BOOLEAN on = FALSE;
  if (!registryPath) return FALSE;
  InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                             NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_QUERY_VALUE, &attributes))) return FALSE;
  RtlInitUnicodeString(&name, L"TestMode");
  Zero(buffer, sizeof buffer);
  if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, value, sizeof buffer, &got)) &&
      value->Type == REG_DWORD && value->DataLength == sizeof(ULONG)) {
    on = ReadUlong(value->Data) != 0;
  }
  ZwClose(key);
  return on;
}

/* The device's security descriptor, self-relative: a protected DACL (nothing is inherited into
 * it) that gives SYSTEM (S-1-5-18) and the Administrators group (S-1-5-32-544) all access and
 * nobody else any, as the descriptor "D:P(A;;FA;;;SY)(A;;FA;;;BA)". */
#define FW_ACE_SYSTEM_SIZE (8 + 12)
#define FW_ACE_ADMINS_SIZE (8 + 16)
#define FW_ACL_SIZE (8 + FW_ACE_SYSTEM_SIZE + FW_ACE_ADMINS_SIZE)
#define FW_SD_SIZE (20 + FW_ACL_SIZE)
static const UCHAR g_deviceSecurity[FW_SD_SIZE] = {
    /* header: revision 1, control SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_SELF_RELATIVE,
     * no owner, group or SACL, DACL at offset 20 */
    1, 0, 0x04, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
    /* ACL: revision 2, size, two entries */
    2, 0, FW_ACL_SIZE, 0, 2, 0, 0, 0,
    /* allow FILE_ALL_ACCESS to S-1-5-18 */
    0, 0, FW_ACE_SYSTEM_SIZE, 0, 0xFF, 0x01, 0x1F, 0x00, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,
    /* allow FILE_ALL_ACCESS to S-1-5-32-544 */
    0, 0, FW_ACE_ADMINS_SIZE, 0, 0xFF, 0x01, 0x1F, 0x00, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0,
    0x20, 0x02, 0, 0};
_Static_assert(FW_SD_SIZE == 72, "device security descriptor");
_Static_assert(FILE_ALL_ACCESS == 0x1F01FF, "access mask in the descriptor");

NTSYSAPI NTSTATUS NTAPI ObOpenObjectByPointer(PVOID object, ULONG attributes, PVOID accessState,
                                              ACCESS_MASK access, PVOID type, KPROCESSOR_MODE mode,
                                              PHANDLE handle);
NTSYSAPI NTSTATUS NTAPI ZwSetSecurityObject(HANDLE handle, SECURITY_INFORMATION information,
                                            PSECURITY_DESCRIPTOR descriptor);

/* Replaces the default security of the new device object (anyone may open it) by ours. */
static NTSTATUS ProtectDevice(PDEVICE_OBJECT device) {
  HANDLE handle;
  NTSTATUS status =
      ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
  if (!NT_SUCCESS(status)) return status;
  status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, (PSECURITY_DESCRIPTOR)g_deviceSecurity);
  ZwClose(handle);
  return status;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  NTSTATUS status;
  g_testMode = ReadTestMode(registryPath);
  g_state = (FW_STATE*)ExAllocatePoolWithTag(NonPagedPool, sizeof(FW_STATE), FW_TAG);
  if (!g_state) return STATUS_INSUFFICIENT_RESOURCES;
  Zero(g_state, sizeof *g_state);
  g_state->ring =
      (FW_PACKET*)ExAllocatePoolWithTag(NonPagedPool, sizeof(FW_PACKET) * FW_SLOTS, FW_TAG);
  if (!g_state->ring) {
    Unload(driver);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  Zero(g_state->ring, sizeof(FW_PACKET) * FW_SLOTS);
  KeInitializeMutex(&g_state->lock, 0);

  RtlInitUnicodeString(&g_deviceName, L"\\Device\\FIREWALLDRIVER");
  RtlInitUnicodeString(&g_linkName, L"\\DosDevices\\FIREWALLDRIVER");
  /* Secure open: the device's security applies to every open, also of names below it. */
  status = IoCreateDevice(driver, 0, &g_deviceName, FW_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN, FALSE, &g_device);
  if (!NT_SUCCESS(status)) {
    g_device = NULL;
    Unload(driver);
    return status;
  }
  status = ProtectDevice(g_device);
  if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(&g_linkName, &g_deviceName);
  if (!NT_SUCCESS(status)) {
    Unload(driver);
    return status;
  }
  g_linkCreated = TRUE;
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
