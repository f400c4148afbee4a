/*
 * The Susie import plug-in interface as Trazbit calls it: everything a plug-in
 * author needs, in C, with no other dependency than the C library (and
 * <windows.h> on Windows).
 *
 * A plug-in is a shared library (a DLL on Windows, a shared object elsewhere)
 * named "*.spi" that exports the entry points below as C functions. Trazbit
 * calls GetPluginInfo, IsSupported, GetPictureInfo and GetPicture; it binds
 * ConfigurationDlg, GetPreview, GetArchiveInfo, GetFileInfo and GetFile by
 * name but never calls them.
 *
 * Strings are single-byte (code page 932). Trazbit always passes pictures in
 * memory (flag 1); a plug-in may also accept flag 0 (buf is a file name, len
 * the offset of the picture in that file) for other programs.
 *
 * Memory handles. GetPicture returns two movable-memory handles, one holding a
 * BITMAPINFO (the 40-byte info header followed by its colour table) and one the
 * pixel rows; GetPictureInfo may return a third with text information. The
 * caller locks, reads and frees them:
 *   - on Windows they are real local-memory handles (LocalAlloc with
 *     LMEM_MOVEABLE, LocalLock, LocalSize, LocalFree) and every entry point
 *     and the progress callback use the standard calling convention;
 *   - elsewhere a handle is a block obtained with malloc() whose first 8 bytes
 *     hold the data size as a native uint64_t, whose next 8 bytes are unused,
 *     and whose data starts at offset 16. The caller frees it with free().
 * SpiAllocHandle, SpiLockHandle, SpiUnlockHandle, SpiHandleSize and
 * SpiFreeHandle below do the right thing on both.
 *
 * The size of a handle must be at least what its header declares: Trazbit
 * refuses a result whose info handle is shorter than the info header and
 * colour table, or whose pixel handle is shorter than the rows, and never
 * reads past the size.
 *
 * On 32-bit Windows, export the entry points undecorated (a .def file), as
 * every Susie host looks them up by their plain names.
 */
#ifndef TRAZBIT_SUSIE_PLUGIN_H
#define TRAZBIT_SUSIE_PLUGIN_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#define SPI_API __stdcall
#define SPI_EXPORT __declspec(dllexport)
#else
#define SPI_API
#if defined(__GNUC__) || defined(__clang__)
#define SPI_EXPORT __attribute__((visibility("default")))
#else
#define SPI_EXPORT
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the entry points. */
#define SPI_SUCCESS 0          /* done */
#define SPI_NOT_IMPLEMENTED (-1)
#define SPI_ABORT 1            /* the progress callback asked to stop */
#define SPI_UNKNOWN_FORMAT 2   /* not a picture this plug-in reads */
#define SPI_BROKEN_DATA 3      /* the picture's data is damaged */
#define SPI_NO_MEMORY 4        /* memory could not be had */
#define SPI_MEMORY_ERROR 5     /* a handle could not be locked */
#define SPI_FILE_READ_ERROR 6
#define SPI_INTERNAL_ERROR 8

/* The picture information of GetPictureInfo, packed to 1 byte. Densities are
 * in dots per inch; hInfo is 0 or a movable-memory handle holding text. */
#pragma pack(push, 1)
typedef struct PictureInfo
{
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    uint16_t x_density;
    uint16_t y_density;
    int16_t colorDepth;
    void *hInfo;
} PictureInfo;
#pragma pack(pop)

/* Called by GetPicture with the work done so far and the whole work; a
 * non-zero answer asks the plug-in to stop and return SPI_ABORT. `user` is
 * the value the caller gave GetPicture. */
typedef int(SPI_API *SpiProgressCallback)(int done, int total, long user);

/* The entry points. infono 0: the type ("00IN" for a picture import filter);
 * 1: the plug-in's name and version; 2, 4, 6, ...: file patterns
 * ("*.jpg;*.jpeg"); 3, 5, 7, ...: the description of the pattern before it.
 * Each returns the length written to buf (0: no such item). */
typedef int(SPI_API *SpiGetPluginInfo)(int infono, char *buf, int buflen);
/* Non-zero when the plug-in reads the file; dw is the address of a block of
 * at least 2048 bytes holding the start of the file (zeros after its end). */
typedef int(SPI_API *SpiIsSupported)(const char *filename, void *dw);
typedef int(SPI_API *SpiGetPictureInfo)(const char *buf, long len, unsigned int flag,
                                        PictureInfo *info);
/* pHBInfo receives the handle of the BITMAPINFO, pHBm that of the pixels. */
typedef int(SPI_API *SpiGetPicture)(const char *buf, long len, unsigned int flag, void **pHBInfo,
                                    void **pHBm, SpiProgressCallback progress, long user);
/* Bound but never called by Trazbit. */
typedef int(SPI_API *SpiConfigurationDlg)(void *parent, int fnc);
typedef SpiGetPicture SpiGetPreview;
typedef int(SPI_API *SpiGetArchiveInfo)(const char *buf, long len, unsigned int flag, void **lphInf);
typedef int(SPI_API *SpiGetFileInfo)(const char *buf, long len, const char *filename,
                                     unsigned int flag, void *lpInfo);
typedef int(SPI_API *SpiGetFile)(const char *src, long len, char *dest, unsigned int flag,
                                 SpiProgressCallback progress, long user);

/* What a picture import plug-in exports. */
SPI_EXPORT int SPI_API GetPluginInfo(int infono, char *buf, int buflen);
SPI_EXPORT int SPI_API IsSupported(const char *filename, void *dw);
SPI_EXPORT int SPI_API GetPictureInfo(const char *buf, long len, unsigned int flag,
                                      PictureInfo *info);
SPI_EXPORT int SPI_API GetPicture(const char *buf, long len, unsigned int flag, void **pHBInfo,
                                  void **pHBm, SpiProgressCallback progress, long user);

/* ------------------------------------------------------------------------
 * Movable-memory handles. */

#ifndef _WIN32
/* Offset of the data in a handle's block. */
#define SPI_HANDLE_DATA_OFFSET 16
#endif

/* A zero-filled handle of `size` bytes, or 0. */
static inline void *SpiAllocHandle(size_t size)
{
#ifdef _WIN32
    return (void *)LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size);
#else
    uint64_t stored = (uint64_t)size;
    unsigned char *block;
    if (size > SIZE_MAX - SPI_HANDLE_DATA_OFFSET)
        return 0;
    block = (unsigned char *)calloc(1, size + SPI_HANDLE_DATA_OFFSET);
    if (block)
        memcpy(block, &stored, sizeof stored);
    return block;
#endif
}

/* The handle's data, or 0. */
static inline void *SpiLockHandle(void *handle)
{
#ifdef _WIN32
    return LocalLock((HLOCAL)handle);
#else
    return handle ? (unsigned char *)handle + SPI_HANDLE_DATA_OFFSET : 0;
#endif
}

static inline void SpiUnlockHandle(void *handle)
{
#ifdef _WIN32
    LocalUnlock((HLOCAL)handle);
#else
    (void)handle;
#endif
}

/* The size of the handle's data in bytes. */
static inline uint64_t SpiHandleSize(void *handle)
{
#ifdef _WIN32
    return (uint64_t)LocalSize((HLOCAL)handle);
#else
    uint64_t size = 0;
    if (handle)
        memcpy(&size, handle, sizeof size);
    return size;
#endif
}

static inline void SpiFreeHandle(void *handle)
{
#ifdef _WIN32
    LocalFree((HLOCAL)handle);
#else
    free(handle);
#endif
}

#ifdef __cplusplus
}
#endif

#endif
