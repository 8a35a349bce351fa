#pragma once
// A model of the filtering engine's arbitration (written from Microsoft's documentation), the
// engine the native tests and the benchmark run the user-mode device on.
