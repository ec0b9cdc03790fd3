// The file-system manager: mounted file systems, their open-file slots and the C-style file calls.
#pragma once

#include <cstdint>
#include "rwtypes.h"

struct RwFile;
struct RwFileSystem;

// State of an open-file slot.
enum RwFileState : RwInt32 {
    rwFILESTATEFREE = 1,
    rwFILESTATEREADY = 2,
    rwFILESTATEPENDING = 3,
    rwFILESTATEERROR = 4,
    rwFILESTATEOPENING = 5,
};

// Request of an asynchronous file that waits for completion.
enum RwFileOperation : RwInt32 {
    rwFILEOPNONE = 1,
    rwFILEOPOPEN = 2,
    rwFILEOPWRITE = 3,
    rwFILEOPSEEK = 4,
    rwFILEOPREAD = 5,
};

// Open flags, made from the fopen-style mode.
enum : RwUInt32 {
    rwFILEFLAGREAD = 1,
    rwFILEFLAGWRITE = 2,
    rwFILEFLAGCREATE = 4,
    rwFILEFLAGATEND = 8,
    rwFILEFLAGASYNC = 16,
};

// Seek modes of a file system's seek function.
enum : RwInt32 {
    rwFILESEEKBEGIN = 1,
    rwFILESEEKCURRENT = 2,
    rwFILESEEKEND = 3,
};

// Results of a file system's initialisation and open, and the manager's last error.
enum : RwInt32 {
    rwFSOK = 1,
    rwFSERRORNOROOM = 2,        // the manager holds its maximum of file systems
    rwFSERRORCREATE = 3,        // the system refused to open the file
    rwFSERRORPATHTOOLONG = 5,   // full path longer than 255 characters
    rwFSERRORNAMEINUSE = 6,
    rwFSERRORDEVICEINUSE = 7,   // the device prefix is mounted already
    rwFSERRORNOSLOT = 8,        // every open-file slot is taken
    rwFSERRORBADNAME = 9,       // name or device prefix missing, or the name too long
};

enum : RwInt32 {
    rwFILESYSTEMNAMELENGTH = 8,     // seven characters and the terminating zero
    rwFILESYSTEMMAXPATH = 255,
};

typedef void (*RwFileCallBack)(RwFile *file, RwUInt32 bytes, RwInt32 state, RwInt32 operation, void *userData);

// Same layout as the system's OVERLAPPED record on this target.
struct RwFileOverlapped {
    RwUInt32 internal;
    RwUInt32 internalHigh;
    RwUInt32 offset;
    RwUInt32 offsetHigh;
    void *event;
};
static_assert(sizeof(RwFileOverlapped) == 20, "overlapped record is five words");

// One open-file slot.
struct RwFile {
    uint64_t size;
    uint64_t position;          // all bits set: no valid position
    RwUInt32 reserved0[2];
    RwBool asynchronous;
    RwUInt32 reserved1;
    RwInt32 state;              // RwFileState
    RwBool opened;
    RwInt32 pendingOp;          // RwFileOperation
    RwUInt32 byteCount;         // of the last completed request
    RwFileCallBack callback;
    void *userData;
    RwFileSystem *fileSystem;
    void *handle;
    RwUInt32 reserved2;
    RwFileOverlapped overlapped;
    void *event;
};
static_assert(sizeof(RwFile) == 96, "open-file slot is 96 bytes");
static_assert(offsetof(RwFile, position) == 8, "position is the third word");

typedef RwFile *(*RwFileSystemGetFileFunction)(RwFileSystem *fs, RwInt32 index);
typedef void (*RwFileSystemCloseFunction)(RwFileSystem *fs);
typedef void (*RwFileSystemNotifyFunction)(const RwChar *name);
typedef RwInt32 (*RwFileSystemOpenFunction)(RwFileSystem *fs, RwFile *file, const RwChar *path, RwUInt32 flags);
typedef void (*RwFileCloseFunction)(RwFile *file);
typedef RwUInt32 (*RwFileReadFunction)(RwFile *file, void *buffer, RwUInt32 n);
typedef RwUInt32 (*RwFileWriteFunction)(RwFile *file, const void *buffer, RwUInt32 n);
typedef int64_t (*RwFileSeekFunction)(RwFile *file, int64_t offset, RwInt32 mode);   // new position or -1
typedef RwInt32 (*RwFileWaitFunction)(RwFile *file, RwBool block);
typedef void (*RwFileReleaseFunction)(RwFile *file);
typedef RwBool (*RwFileEofFunction)(RwFile *file);
typedef RwInt32 (*RwFileStatusFunction)(RwFile *file);
typedef RwBool (*RwFileSystemExistsFunction)(RwFileSystem *fs, const RwChar *path);

struct RwFileSystem {
    RwFileSystem *next;
    RwInt32 slotCount;
    RwInt32 state;                          // 2 after initialisation
    RwChar *devicePrefix;                   // allocated copy
    RwBool asynchronous;
    RwFileSystemGetFileFunction getFile;
    RwFileSystemCloseFunction close;
    RwUInt32 reserved;
    RwFileSystemNotifyFunction registerNotify;
    RwFileSystemNotifyFunction unregisterNotify;
    RwFileSystemOpenFunction fOpen;
    RwFileCloseFunction fClose;
    RwFileReadFunction fRead;
    RwFileWriteFunction fWrite;
    RwFileSeekFunction fSeek;
    RwFileWaitFunction fWait;
    RwFileReleaseFunction fRelease;
    RwFileEofFunction fEof;
    RwFileStatusFunction fStatus;
    RwFileSystemExistsFunction fExists;
    RwChar name[rwFILESYSTEMNAMELENGTH];
    RwUInt32 bytesPerSector;                // 0 when the volume does not answer
    RwFile *slots;
};
static_assert(sizeof(RwFileSystem) == 96, "file system is 24 words");

struct RwFileSystemManager {
    RwFileSystem *fsList;           // newest first
    RwInt32 maxFS;                  // below 1: no limit
    RwInt32 numFS;
    RwBool isOpen;
    RwUInt32 lastError;             // 8: no free slot; otherwise the last system error
    void *errorCallBack;            // nothing installs one
    RwFileSystem *defaultFS;
};

RwBool RwFileSystemManagerOpen(RwInt32 maxFS);
void RwFileSystemManagerClose(void);
RwFileSystemManager *RwFileSystemManagerGetGlobals(void);

// Common initialisation of a file system whose slot array and functions are
// set: returns rwFSOK or one of rwFSERRORNOROOM, NAMEINUSE, DEVICEINUSE, BADNAME.
RwInt32 RwFileSystemInit(RwFileSystem *fs, RwInt32 slotCount, const RwChar *devicePrefix, const RwChar *name);
RwBool RwFileSystemRegister(RwFileSystem *fs);
RwFileSystem *RwFileSystemSetDefault(RwFileSystem *fs);
RwFileSystem *RwFileSystemGetDefault(void);
RwFileSystem *RwFileSystemFindByName(const RwChar *name);
RwFileSystem *RwFileSystemFindByDevice(const RwChar *devicePrefix);
RwBool RwFileSystemCheckNameInUse(const RwChar *name);
// The file system that serves a path: the one whose device prefix equals the
// path up to one of its ':' (leftmost first), else the default one.
RwFileSystem *RwFileSystemGetForPath(const RwChar *path);

// Opens a file on one file system with open flags; an asynchronous open keeps
// the callback, which each completed request then receives.
RwFile *RwFileSystemOpenFile(RwFileSystem *fs, const RwChar *path, RwUInt32 flags, RwFileCallBack callback,
                             void *userData);
// Completes an asynchronous request (waiting for it when block is TRUE) and
// returns the file's state; a synchronous file just reports its state.
RwInt32 RwFileSystemFileWait(RwFile *file, RwBool block);
RwInt32 RwFileSystemFileStatus(RwFile *file);

RwFile *RwFopen(const RwChar *path, const RwChar *mode);
RwInt32 RwFclose(RwFile *file);
size_t RwFread(void *buffer, size_t size, size_t count, RwFile *file);
size_t RwFwrite(const void *buffer, size_t size, size_t count, RwFile *file);
RwInt32 RwFseek(RwFile *file, long offset, RwInt32 origin);
RwChar *RwFgets(RwChar *buffer, RwInt32 n, RwFile *file);
RwBool RwFeof(RwFile *file);
RwBool RwFexist(const RwChar *path);

// Open flags for an fopen-style mode; 0 for a mode without r, w or a.
RwUInt32 RwFileFlagsFromMode(const RwChar *mode);
