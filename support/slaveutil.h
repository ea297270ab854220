/* Child ("slave") processes: a master hands jobs (an input and an output file name)
 * to a separate program, so that a converter that crashes or hangs cannot take the
 * master down.
 *
 * Master and slave share a 522-byte memory-mapped file (the input name in bytes 0 to
 * 260, the output name in bytes 261 to 521, each zero-terminated) and two auto-reset
 * events: the master signals "start", the slave signals "finish". The slave program
 * is started with three arguments: the map file name, the start event name and the
 * finish event name. All names carry the master's process id (and, for every master
 * after the first in one process, a serial number) and a random part, so masters never
 * collide and no other program can guess a name ahead of time.
 *
 * The master side is slaveCreate / slaveRunJob / slaveDestroy; a slave program uses
 * slaveChannelOpen / slaveChannelWaitJob / slaveChannelFinish / slaveChannelClose and
 * slaveTouchHeartbeat. */
#ifndef SAPIOLUX_SLAVEUTIL_H
#define SAPIOLUX_SLAVEUTIL_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SLAVE_VIEW_SIZE 522
#define SLAVE_NAME_FIELD 261 /* bytes per file name in the view, terminator included */
#define SLAVE_SCRATCH_SIZE 1024

typedef struct SlaveProcess {
    char* mapFileName;     /* private folder / program name + process number + ".map" */
    char* startEventName;  /* base name + process number + ".start" */
    char* finishEventName; /* base name + process number + ".finish" */
    char* programName;     /* base name + ".exe", or the base name itself */
    int32_t mapFile;       /* descriptor of the shared file; -1 when closed */
    void* startEvent;      /* the two events */
    void* finishEvent;
    int32_t process; /* process id of the running slave; 0 when none */
    char* view;      /* the mapped SLAVE_VIEW_SIZE bytes */
    char* scratch;   /* SLAVE_SCRATCH_SIZE bytes */
} SlaveProcess;

/* Creates the shared file, the events and starts the slave program baseName + ".exe"
 * (or baseName when no such file exists). 1 and *slave set when everything was
 * created and the slave started; 0 otherwise (what was created is released). The map
 * file is created new (never an existing file, never through a symbolic link, mode
 * 0600) in a folder of its own that only this user can enter, made with an
 * unpredictable name in the temporary folder; slaveDestroy removes both. */
SAPIOLUX_EXPORT int slaveCreate(SlaveProcess** slave, const char* baseName);

/* Runs one job: 1 when the slave signalled "finish" in time and the output file is
 * not empty; 0 otherwise. The wait lasts timeoutSeconds and is extended while the
 * heartbeat file (may be null) was changed less than timeoutSeconds ago. A slave that
 * exits or crashes is noticed at once. After a failed wait the slave is terminated
 * and started again. Names of SLAVE_NAME_FIELD bytes or more are refused (0). */
SAPIOLUX_EXPORT int slaveRunJob(SlaveProcess* slave, const char* inputFile, const char* outputFile,
                                int32_t timeoutSeconds, const char* heartbeatFile);

/* Terminates the slave (and reaps it), closes the events and the view, deletes the
 * map file (retrying up to five times a second apart), releases the record and sets
 * *slave to null. Null is harmless. */
SAPIOLUX_EXPORT void slaveDestroy(SlaveProcess** slave);

/* The slave's side. */
typedef struct SlaveChannel {
    int32_t mapFile;
    char* view;
    void* startEvent;
    void* finishEvent;
    int32_t masterProcess;            /* parent at open time */
    char inputFile[SLAVE_NAME_FIELD]; /* the current job, copied from the view */
    char outputFile[SLAVE_NAME_FIELD];
} SlaveChannel;

/* Opens the channel from the program's arguments (argv[1] map file, argv[2] start
 * event, argv[3] finish event). 1 on success, 0 otherwise (nothing left open). */
SAPIOLUX_EXPORT int slaveChannelOpen(SlaveChannel* channel, int argc, char** argv);
/* Waits up to waitMilliseconds for a job: 1 when one arrived (inputFile and outputFile
 * hold it), 0 when none arrived yet, -1 when the master has gone away or the view holds
 * no valid names. */
SAPIOLUX_EXPORT int slaveChannelWaitJob(SlaveChannel* channel, int32_t waitMilliseconds);
/* Signals "finish" for the current job. */
SAPIOLUX_EXPORT void slaveChannelFinish(SlaveChannel* channel);
SAPIOLUX_EXPORT void slaveChannelClose(SlaveChannel* channel);
/* Creates the file or sets its modification time to now. 1 on success. */
SAPIOLUX_EXPORT int slaveTouchHeartbeat(const char* fileName);

#ifdef __cplusplus
}
#endif

#endif
