/*
 * The test plug-ins: one source built as several plug-ins (SPI_VARIANT_<name>),
 * each a different case for the plug-in manager. All that read pictures read
 * the test format:
 *
 *   0  "TZSPITST"
 *   8  uint32 size of the info handle      12 uint32 size of the pixel handle
 *  16  uint32 progress steps               20 uint32 size of the text information
 *  24  int32 GetPicture's answer (0: the picture)
 *  28  the text, the info handle's bytes, the pixel handle's bytes
 *
 * so that a test decides the exact blocks handed back, short ones included.
 */
#include "SusiePlugin.h"
#include "TestPluginState.h"

#include <string.h>

#if defined(SPI_VARIANT_first)
#define SPI_TYPE "00IN"
/* The description in code page 932: "テスト画像". */
#define SPI_PATTERN1 "*.tzt"
#define SPI_DESCRIPTION1 "\x83\x65\x83\x58\x83\x67\x89\xe6\x91\x9c"
#define SPI_PATTERN2 "*.tzx;*.TZY"
#define SPI_DESCRIPTION2 "Trazbit test picture 2"
#elif defined(SPI_VARIANT_second)
#define SPI_TYPE "00IN"
#define SPI_PATTERN1 "*.tzt"
#define SPI_DESCRIPTION1 "Trazbit test picture (second)"
#elif defined(SPI_VARIANT_no_info)
#define SPI_TYPE "00IN"
#define SPI_NO_GETPLUGININFO
#elif defined(SPI_VARIANT_no_picture)
#define SPI_TYPE "00IN"
#define SPI_NO_GETPICTURE
#elif defined(SPI_VARIANT_no_supported)
#define SPI_TYPE "00IN"
#define SPI_NO_ISSUPPORTED
#elif defined(SPI_VARIANT_small_am)
#define SPI_TYPE "00am"
#define SPI_ARCHIVE
#elif defined(SPI_VARIANT_no_item3)
#define SPI_TYPE "00IN"
#define SPI_PATTERN1 "*.ni3"
#define SPI_NO_ITEM3
#elif defined(SPI_VARIANT_archive)
#define SPI_TYPE "00AM"
#define SPI_PATTERN1 "*.tzt"
#define SPI_DESCRIPTION1 "Trazbit test archive"
#define SPI_ARCHIVE
#elif defined(SPI_VARIANT_xn)
#define SPI_TYPE "00XN"
#elif defined(SPI_VARIANT_other)
#define SPI_TYPE "99ZZ"
#else
#error "no SPI_VARIANT_<name> defined"
#endif

#define HEADER_SIZE 28
#define BLOCK_SIZE 2048

static SpiTestState state;
static const void *supportedBlock;

SPI_EXPORT SpiTestState *SpiTestStateOf(void)
{
    return &state;
}

static unsigned long Get32(const char *p)
{
    const unsigned char *u = (const unsigned char *)p;
    return u[0] | (unsigned long)u[1] << 8 | (unsigned long)u[2] << 16 | (unsigned long)u[3] << 24;
}

typedef struct TestPicture
{
    unsigned long infoSize, bitsSize, steps, textSize;
    long result;
    const char *text, *info, *bits;
} TestPicture;

static int Parse(const char *buf, long len, TestPicture *p)
{
    if (!buf || len < HEADER_SIZE || memcmp(buf, "TZSPITST", 8) != 0)
        return 0;
    p->infoSize = Get32(buf + 8);
    p->bitsSize = Get32(buf + 12);
    p->steps = Get32(buf + 16);
    p->textSize = Get32(buf + 20);
    p->result = (long)(int)Get32(buf + 24);
    if (p->infoSize > (unsigned long)len || p->bitsSize > (unsigned long)len
        || p->textSize > (unsigned long)len
        || HEADER_SIZE + p->textSize + p->infoSize + p->bitsSize > (unsigned long)len)
        return 0;
    p->text = buf + HEADER_SIZE;
    p->info = p->text + p->textSize;
    p->bits = p->info + p->infoSize;
    return 1;
}

static void Record(const char *buf, long len)
{
    long i;
    state.lastLength = len;
    state.sameBuffer = buf == supportedBlock;
    state.tailIsZero = 1;
    for (i = len; i < BLOCK_SIZE; ++i)
        if (buf[i] != 0)
            state.tailIsZero = 0;
}

static void *HandleOf(const char *bytes, unsigned long size)
{
    void *handle = SpiAllocHandle(size);
    void *data = handle ? SpiLockHandle(handle) : 0;
    if (data) {
        memcpy(data, bytes, size);
        SpiUnlockHandle(handle);
    }
    return handle;
}

#ifndef SPI_NO_GETPLUGININFO
SPI_EXPORT int SPI_API GetPluginInfo(int infono, char *buf, int buflen)
{
    const char *text = 0;
    size_t length;
    switch (infono) {
    case 0: text = SPI_TYPE; break;
    case 1: text = "Trazbit test plug-in"; break;
#ifdef SPI_PATTERN1
    case 2: text = SPI_PATTERN1; break;
#ifndef SPI_NO_ITEM3
    case 3: text = SPI_DESCRIPTION1; break;
#endif
#endif
#ifdef SPI_PATTERN2
    case 4: text = SPI_PATTERN2; break;
    case 5: text = SPI_DESCRIPTION2; break;
#endif
    default: return 0;
    }
    length = strlen(text);
    if (length >= (size_t)buflen)
        length = (size_t)buflen - 1;
    memcpy(buf, text, length);
    buf[length] = 0;
    return (int)length;
}
#endif

#ifndef SPI_NO_ISSUPPORTED
SPI_EXPORT int SPI_API IsSupported(const char *filename, void *dw)
{
    ++state.isSupportedCalls;
    strncpy(state.lastFileName, filename ? filename : "", sizeof state.lastFileName - 1);
    supportedBlock = dw;
    return dw && memcmp(dw, "TZSPITST", 8) == 0;
}
#endif

SPI_EXPORT int SPI_API GetPictureInfo(const char *buf, long len, unsigned int flag, PictureInfo *info)
{
    TestPicture p;
    ++state.pictureInfoCalls;
    Record(buf, len);
    if (flag != 1 || !Parse(buf, len, &p))
        return SPI_UNKNOWN_FORMAT;
    memset(info, 0, sizeof *info);
    if (p.infoSize >= 12) {
        info->width = (int32_t)Get32(p.info + 4);
        info->height = (int32_t)Get32(p.info + 8);
    }
    if (p.infoSize >= 16)
        info->colorDepth = (int16_t)((unsigned char)p.info[14] | (unsigned char)p.info[15] << 8);
    info->left = 3;
    info->top = 4;
    info->x_density = 300;
    info->y_density = 150;
    if (p.textSize > 0)
        info->hInfo = HandleOf(p.text, p.textSize);
    return SPI_SUCCESS;
}

#ifndef SPI_NO_GETPICTURE
SPI_EXPORT int SPI_API GetPicture(const char *buf, long len, unsigned int flag, void **pHBInfo,
                                  void **pHBm, SpiProgressCallback progress, long user)
{
    TestPicture p;
    unsigned long i;
    ++state.pictureCalls;
    Record(buf, len);
    if (flag != 1 || !Parse(buf, len, &p))
        return SPI_UNKNOWN_FORMAT;
    if (p.result != 0)
        return (int)p.result;
    for (i = 0; i < p.steps; ++i) {
        const int answer = progress ? progress((int)i, (int)p.steps, user) : 0;
        if (state.progressCount < SPI_TEST_MAX_PROGRESS)
            state.progressAnswers[state.progressCount++] = answer;
        if (answer)
            return SPI_ABORT;
    }
    *pHBInfo = HandleOf(p.info, p.infoSize);
    *pHBm = HandleOf(p.bits, p.bitsSize);
    return SPI_SUCCESS;
}
#endif

#ifdef SPI_ARCHIVE
SPI_EXPORT int SPI_API GetArchiveInfo(const char *buf, long len, unsigned int flag, void **lphInf)
{
    (void)buf, (void)len, (void)flag, (void)lphInf;
    ++state.archiveCalls;
    return SPI_NOT_IMPLEMENTED;
}

SPI_EXPORT int SPI_API GetFileInfo(const char *buf, long len, const char *filename, unsigned int flag,
                                   void *lpInfo)
{
    (void)buf, (void)len, (void)filename, (void)flag, (void)lpInfo;
    ++state.archiveCalls;
    return SPI_NOT_IMPLEMENTED;
}

SPI_EXPORT int SPI_API GetFile(const char *src, long len, char *dest, unsigned int flag,
                               SpiProgressCallback progress, long user)
{
    (void)src, (void)len, (void)dest, (void)flag, (void)progress, (void)user;
    ++state.archiveCalls;
    return SPI_NOT_IMPLEMENTED;
}
#endif
