/* The contract between the agent and its two capture plug-ins, shared libraries loaded at
 * start-up from the program's library folder:
 *
 *   "focus.so"  exports GetActiveWindowHookFunction(), the active-window watcher;
 *   "sxNT.so"   exports GetMessageHookFunction(), the text reader.
 *
 * Each entry returns a table of functions. The agent hands every call an SxHost: how to
 * post a message to its main window (safe from any thread), its own process id (whose
 * windows are never reported or read) and its mailslot. Window ids are X11 window ids. */
#ifndef SAPIOLUX_CAPTURE_PLUGIN_H
#define SAPIOLUX_CAPTURE_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SX_PLUGIN_VERSION 1

typedef void (*SxPostFunction)(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam);

typedef struct SxHost {
    void* context;            /* handed back to post */
    SxPostFunction post;      /* posts a message to the agent's main window */
    int32_t ownPid;           /* the agent's process */
    const char* mailslotPath; /* where the text reader writes */
    int32_t timeoutMs;        /* the most one accessibility call may take */
} SxHost;

typedef struct SxWindowInfo {
    uint64_t id;
    int32_t pid;
    char title[1024];            /* UTF-8, cut to fit */
    char windowClass[256];       /* the class part of WM_CLASS */
    int32_t x, y, width, height; /* the window on the screen, its frame left out */
} SxWindowInfo;

/* The active-window watcher ("HalvoranSapiolux_GetWindow" as a call). */
typedef struct SxFocusHook {
    int32_t version;
    /* Posts 1037 (wParam: the window) when the active window is a window other than 0 and
     * other than the last one reported, and not one of the agent's own. 1 when posted. */
    int32_t (*getWindow)(const SxHost* host);
    /* Title, class and process of a window; 0 when it cannot be read. */
    int32_t (*describe)(uint64_t window, SxWindowInfo* info);
    /* The top-level window under the screen point (0 for none). */
    uint64_t (*windowAt)(int32_t x, int32_t y);
    /* Brings a window to the front and gives it the focus. */
    int32_t (*activate)(uint64_t window);
    /* Starts following the window manager's changes of the active window on a thread of
     * the plug-in's own, posting 1037 as getWindow does, at once. 1 when following. */
    int32_t (*watch)(const SxHost* host);
    /* Stops following; called once before the library is unloaded. */
    void (*stop)(void);
} SxFocusHook;

/* The text reader ("HalvoranSapiolux_GetText" as a call). */
typedef struct SxTextHook {
    int32_t version;
    /* Reads the window's text on the reader's own thread, writes it into the mailslot as
     * one message (Windows-1252) and posts 1029. A newer request replaces one that has not
     * started. 1 when queued. */
    int32_t (*getText)(const SxHost* host, uint64_t window);
    /* The class reported for the window as of its last read: the filter name of the role
     * of its focused object (e.g. "SysTreeView32"), "browser" for a web document, else
     * empty. 1 when known. */
    int32_t (*lastClass)(uint64_t window, char* out, int32_t size);
    /* Ends the reader's thread; called once before the library is unloaded. */
    void (*shutdown)(void);
} SxTextHook;

typedef const SxFocusHook* (*SxFocusEntry)(void);
typedef const SxTextHook* (*SxTextEntry)(void);

#ifdef __cplusplus
}
#endif

#endif
