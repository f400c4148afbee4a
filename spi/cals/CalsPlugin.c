/*
 * Susie import plug-in for CALS raster type 1 (.cal, .ct1), the format of
 * scanned engineering drawings in archives.
 *
 * A file is sixteen 128-byte header records of ASCII text ("rtype: 1",
 * "rorient: 000,270", "rpelcnt: 001728,002200", "rdensty: 0200", ... padded
 * with spaces), followed by the picture coded with CCITT Group 4, 1 = black.
 * Only type 1 in the normal orientation (pel path 0, line progression 270)
 * is read; other types and orientations are refused with SPI_UNKNOWN_FORMAT.
 * The picture comes out as a 1-bit bottom-up DIB, entry 0 white, entry 1
 * black, with the density of the header.
 */
#include "SusiePlugin.h"

#include <tiffio.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CALS_RECORD_SIZE 128
#define CALS_RECORD_COUNT 16
#define CALS_HEADER_SIZE (CALS_RECORD_SIZE * CALS_RECORD_COUNT)
/* Larger sides are no drawing sheet: A0 at 2400 dpi is below 120000 pixels. */
#define CALS_MAX_SIDE 200000L
#define CALS_MAX_IMAGE 0x7FFFFFFFL
#define CALS_PROGRESS_ROWS 64

typedef struct CalsHeader
{
    long width;
    long height;
    long density; /* dots per inch, 0 when unknown */
} CalsHeader;

static const char *const kInfo[] = {
    "00IN",
    "CALS raster type 1 plug-in (Trazbit)",
    "*.cal;*.ct1",
    "CALS raster type 1",
};

SPI_EXPORT int SPI_API GetPluginInfo(int infono, char *buf, int buflen)
{
    size_t length;
    if (infono < 0 || infono >= (int)(sizeof kInfo / sizeof kInfo[0]) || !buf || buflen <= 0)
        return 0;
    length = strlen(kInfo[infono]);
    if (length >= (size_t)buflen)
        length = (size_t)buflen - 1;
    memcpy(buf, kInfo[infono], length);
    buf[length] = 0;
    return (int)length;
}

/* The value of the header record that starts with `key` (such as "rtype:"),
 * without the blanks around it; 0 when there is no such record. */
static int FindField(const unsigned char *header, const char *key, char *value, size_t size)
{
    const size_t keyLength = strlen(key);
    int r;
    for (r = 0; r < CALS_RECORD_COUNT; ++r) {
        const unsigned char *record = header + r * CALS_RECORD_SIZE;
        size_t begin = keyLength, end = CALS_RECORD_SIZE, i;
        int same = 1;
        for (i = 0; i < keyLength; ++i) {
            if (tolower(record[i]) != key[i]) {
                same = 0;
                break;
            }
        }
        if (!same)
            continue;
        while (begin < end && (record[begin] == ' ' || record[begin] == 0))
            ++begin;
        while (end > begin && (record[end - 1] == ' ' || record[end - 1] == 0 || record[end - 1] == '\r'
                               || record[end - 1] == '\n'))
            --end;
        if (end - begin >= size)
            end = begin + size - 1;
        memcpy(value, record + begin, end - begin);
        value[end - begin] = 0;
        return 1;
    }
    return 0;
}

/* Two whole numbers separated by a comma ("001728,002200"). */
static int ParsePair(const char *text, long *first, long *second)
{
    char *end;
    *first = strtol(text, &end, 10);
    if (end == text)
        return 0;
    while (*end == ' ')
        ++end;
    if (*end != ',')
        return 0;
    text = end + 1;
    *second = strtol(text, &end, 10);
    if (end == text)
        return 0;
    while (*end == ' ')
        ++end;
    return *end == 0;
}

static int LooksLikeCals(const unsigned char *header)
{
    char value[CALS_RECORD_SIZE];
    return FindField(header, "rtype:", value, sizeof value)
           && FindField(header, "rpelcnt:", value, sizeof value);
}

/* SPI_SUCCESS, or SPI_UNKNOWN_FORMAT for what this plug-in does not read. */
static int ParseHeader(const unsigned char *header, CalsHeader *out)
{
    char value[CALS_RECORD_SIZE];
    long pelPath, lineProgression;
    char *end;
    if (!LooksLikeCals(header))
        return SPI_UNKNOWN_FORMAT;
    FindField(header, "rtype:", value, sizeof value);
    if (strtol(value, &end, 10) != 1 || end == value || *end != 0)
        return SPI_UNKNOWN_FORMAT;
    /* A missing orientation is the normal one. */
    if (FindField(header, "rorient:", value, sizeof value)) {
        if (!ParsePair(value, &pelPath, &lineProgression) || pelPath != 0 || lineProgression != 270)
            return SPI_UNKNOWN_FORMAT;
    }
    FindField(header, "rpelcnt:", value, sizeof value);
    if (!ParsePair(value, &out->width, &out->height) || out->width <= 0 || out->height <= 0
        || out->width > CALS_MAX_SIDE || out->height > CALS_MAX_SIDE)
        return SPI_UNKNOWN_FORMAT;
    out->density = 0;
    if (FindField(header, "rdensty:", value, sizeof value)) {
        const long density = strtol(value, &end, 10);
        if (end != value && *end == 0 && density > 0 && density <= 65535)
            out->density = density;
    }
    return SPI_SUCCESS;
}

/* The picture's bytes: in memory (flag 1), or read from the file `buf` at
 * offset `len` (flag 0). *owned is set when the caller must free *data. */
static int GetSource(const char *buf, long len, unsigned int flag, const unsigned char **data,
                     size_t *size, unsigned char **owned)
{
    FILE *file;
    long end;
    size_t got;
    *owned = 0;
    if ((flag & 7) == 1) {
        if (!buf || len < 0)
            return SPI_FILE_READ_ERROR;
        *data = (const unsigned char *)buf;
        *size = (size_t)len;
        return SPI_SUCCESS;
    }
    if ((flag & 7) != 0 || !buf || len < 0)
        return SPI_NOT_IMPLEMENTED;
    file = fopen(buf, "rb");
    if (!file)
        return SPI_FILE_READ_ERROR;
    if (fseek(file, 0, SEEK_END) != 0 || (end = ftell(file)) < len || fseek(file, len, SEEK_SET) != 0) {
        fclose(file);
        return SPI_FILE_READ_ERROR;
    }
    *owned = (unsigned char *)malloc((size_t)(end - len) + 1);
    if (!*owned) {
        fclose(file);
        return SPI_NO_MEMORY;
    }
    got = fread(*owned, 1, (size_t)(end - len), file);
    fclose(file);
    if (got != (size_t)(end - len)) {
        free(*owned);
        *owned = 0;
        return SPI_FILE_READ_ERROR;
    }
    *data = *owned;
    *size = got;
    return SPI_SUCCESS;
}

SPI_EXPORT int SPI_API IsSupported(const char *filename, void *dw)
{
    (void)filename;
    return dw && LooksLikeCals((const unsigned char *)dw);
}

SPI_EXPORT int SPI_API GetPictureInfo(const char *buf, long len, unsigned int flag, PictureInfo *info)
{
    const unsigned char *data;
    unsigned char *owned;
    size_t size;
    CalsHeader header;
    int result = GetSource(buf, len, flag, &data, &size, &owned);
    if (result != SPI_SUCCESS)
        return result;
    if (size < CALS_HEADER_SIZE)
        result = SPI_UNKNOWN_FORMAT;
    else
        result = ParseHeader(data, &header);
    free(owned);
    if (result != SPI_SUCCESS)
        return result;
    if (!info)
        return SPI_INTERNAL_ERROR;
    memset(info, 0, sizeof *info);
    info->width = (int32_t)header.width;
    info->height = (int32_t)header.height;
    info->x_density = (uint16_t)header.density;
    info->y_density = (uint16_t)header.density;
    info->colorDepth = 1;
    info->hInfo = 0;
    return SPI_SUCCESS;
}

/* ------------------------------------------------------------------------
 * Group 4 decoding: libtiff reads the data as the one strip of a TIFF picture
 * that exists only in memory. */

typedef struct MemoryTiff
{
    const unsigned char *data;
    toff_t size;
    toff_t position;
} MemoryTiff;

static tmsize_t MemoryRead(thandle_t handle, void *buffer, tmsize_t size)
{
    MemoryTiff *tiff = (MemoryTiff *)handle;
    toff_t left = tiff->position < tiff->size ? tiff->size - tiff->position : 0;
    if (size < 0)
        return 0;
    if ((toff_t)size > left)
        size = (tmsize_t)left;
    memcpy(buffer, tiff->data + tiff->position, (size_t)size);
    tiff->position += (toff_t)size;
    return size;
}

static tmsize_t MemoryWrite(thandle_t handle, void *buffer, tmsize_t size)
{
    (void)handle;
    (void)buffer;
    (void)size;
    return 0;
}

static toff_t MemorySeek(thandle_t handle, toff_t offset, int whence)
{
    MemoryTiff *tiff = (MemoryTiff *)handle;
    toff_t base = whence == SEEK_CUR ? tiff->position : whence == SEEK_END ? tiff->size : 0;
    tiff->position = base + offset;
    return tiff->position;
}

static int MemoryClose(thandle_t handle)
{
    (void)handle;
    return 0;
}

static toff_t MemorySize(thandle_t handle)
{
    return ((MemoryTiff *)handle)->size;
}

static int MemoryMap(thandle_t handle, void **base, toff_t *size)
{
    (void)handle;
    (void)base;
    (void)size;
    return 0;
}

static void MemoryUnmap(thandle_t handle, void *base, toff_t size)
{
    (void)handle;
    (void)base;
    (void)size;
}

/* libtiff's messages are not for the user of a picture viewer; they are
 * counted instead: the decoder reports data that ends too early only as a
 * warning and fills the rest with white. */
static int Count(TIFF *tiff, void *user, const char *module, const char *format, va_list args)
{
    (void)tiff;
    (void)module;
    (void)format;
    (void)args;
    ++*(int *)user;
    return 1;
}

static void Put16(unsigned char *p, unsigned value)
{
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
}

static void Put32(unsigned char *p, unsigned long value)
{
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
    p[2] = (unsigned char)(value >> 16);
    p[3] = (unsigned char)(value >> 24);
}

static int AllZero(const unsigned char *p, size_t size)
{
    return size == 0 || (p[0] == 0 && memcmp(p, p + 1, size - 1) == 0);
}

#define TIFF_ENTRIES 10
#define TIFF_PREFIX (8 + 2 + TIFF_ENTRIES * 12 + 4)

/* A little-endian TIFF file: the header, one directory of a 1-bit Group 4
 * picture in one strip, then the strip. */
static unsigned char *WrapInTiff(const unsigned char *g4, size_t length, long width, long height,
                                 size_t *size)
{
    static const unsigned short tags[TIFF_ENTRIES] = {256, 257, 258, 259, 262, 266, 273, 277, 278, 279};
    unsigned long values[TIFF_ENTRIES];
    unsigned char *file, *entry;
    int i;
    if (length > 0xFFFFFFFFUL - TIFF_PREFIX)
        return 0;
    file = (unsigned char *)malloc(TIFF_PREFIX + length);
    if (!file)
        return 0;
    values[0] = (unsigned long)width;
    values[1] = (unsigned long)height;
    values[2] = 1;                     /* bits per sample */
    values[3] = COMPRESSION_CCITTFAX4;
    values[4] = PHOTOMETRIC_MINISWHITE; /* 1 = black */
    values[5] = FILLORDER_MSB2LSB;
    values[6] = TIFF_PREFIX;           /* strip offset */
    values[7] = 1;                     /* samples per pixel */
    values[8] = (unsigned long)height; /* rows per strip */
    values[9] = (unsigned long)length; /* strip byte count */
    memcpy(file, "II", 2);
    Put16(file + 2, 42);
    Put32(file + 4, 8);
    Put16(file + 8, TIFF_ENTRIES);
    for (i = 0; i < TIFF_ENTRIES; ++i) {
        const int isLong = tags[i] == 256 || tags[i] == 257 || tags[i] == 273 || tags[i] == 278
                           || tags[i] == 279;
        entry = file + 10 + 12 * i;
        Put16(entry, tags[i]);
        Put16(entry + 2, isLong ? 4 : 3); /* LONG or SHORT */
        Put32(entry + 4, 1);
        if (isLong) {
            Put32(entry + 8, values[i]);
        } else {
            Put16(entry + 8, (unsigned)values[i]);
            Put16(entry + 10, 0);
        }
    }
    Put32(file + 10 + 12 * TIFF_ENTRIES, 0);
    memcpy(file + TIFF_PREFIX, g4, length);
    *size = TIFF_PREFIX + length;
    return file;
}

SPI_EXPORT int SPI_API GetPicture(const char *buf, long len, unsigned int flag, void **pHBInfo,
                                  void **pHBm, SpiProgressCallback progress, long user)
{
    const unsigned char *data;
    unsigned char *owned, *tiffFile = 0, *bits, *row = 0;
    size_t size, tiffSize = 0;
    CalsHeader header;
    void *infoHandle = 0, *bitsHandle = 0;
    unsigned long rowSize;
    long y;
    MemoryTiff memory;
    TIFFOpenOptions *options = 0;
    TIFF *tiff = 0;
    int messages = 0;
    int result;

    if (!pHBInfo || !pHBm)
        return SPI_INTERNAL_ERROR;
    *pHBInfo = 0;
    *pHBm = 0;
    result = GetSource(buf, len, flag, &data, &size, &owned);
    if (result != SPI_SUCCESS)
        return result;
    if (size < CALS_HEADER_SIZE) {
        result = SPI_UNKNOWN_FORMAT;
        goto done;
    }
    result = ParseHeader(data, &header);
    if (result != SPI_SUCCESS)
        goto done;
    rowSize = ((unsigned long)header.width + 31) / 32 * 4;
    if ((double)rowSize * (double)header.height > (double)CALS_MAX_IMAGE) {
        result = SPI_NO_MEMORY;
        goto done;
    }
    /* Every row takes one code of at least one bit: data with fewer bits than
     * rows ends early, and is found so before the picture is made. */
    if ((size - CALS_HEADER_SIZE) < (size_t)(header.height + 7) / 8) {
        result = SPI_BROKEN_DATA;
        goto done;
    }

    tiffFile = WrapInTiff(data + CALS_HEADER_SIZE, size - CALS_HEADER_SIZE, header.width, header.height,
                          &tiffSize);
    infoHandle = SpiAllocHandle(40 + 2 * 4);
    bitsHandle = SpiAllocHandle((size_t)(rowSize * (unsigned long)header.height));
    row = (unsigned char *)malloc(rowSize);
    options = TIFFOpenOptionsAlloc();
    if (!tiffFile || !infoHandle || !bitsHandle || !row || !options) {
        result = SPI_NO_MEMORY;
        goto done;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, Count, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Count, &messages);
    memory.data = tiffFile;
    memory.size = tiffSize;
    memory.position = 0;
    tiff = TIFFClientOpenExt("CALS", "rm", (thandle_t)&memory, MemoryRead, MemoryWrite, MemorySeek,
                             MemoryClose, MemorySize, MemoryMap, MemoryUnmap, options);
    if (!tiff) {
        result = SPI_BROKEN_DATA;
        goto done;
    }

    bits = (unsigned char *)SpiLockHandle(bitsHandle);
    if (!bits) {
        result = SPI_MEMORY_ERROR;
        goto done;
    }
    for (y = 0; y < header.height; ++y) {
        if (progress && y % CALS_PROGRESS_ROWS == 0 && progress((int)y, (int)header.height, user)) {
            result = SPI_ABORT;
            break;
        }
        memset(row, 0, rowSize);
        if (TIFFReadScanline(tiff, row, (uint32_t)y, 0) < 0 || messages > 0) {
            result = SPI_BROKEN_DATA;
            break;
        }
        /* Bottom-up rows; the bits beyond the width stay 0. The picture
         * starts white (zero-filled): a white row is not written, so that
         * its memory is never touched. */
        if (header.width % 8)
            row[header.width / 8] &= (unsigned char)(0xFF00 >> (header.width % 8));
        memset(row + (header.width + 7) / 8, 0, rowSize - (unsigned long)(header.width + 7) / 8);
        if (!AllZero(row, rowSize))
            memcpy(bits + (size_t)(header.height - 1 - y) * rowSize, row, rowSize);
    }
    SpiUnlockHandle(bitsHandle);
    if (result == SPI_SUCCESS && progress && progress((int)header.height, (int)header.height, user))
        result = SPI_ABORT;

    if (result == SPI_SUCCESS) {
        unsigned char *info = (unsigned char *)SpiLockHandle(infoHandle);
        const unsigned long perMetre = (unsigned long)((header.density * 10000L + 127) / 254);
        if (!info) {
            result = SPI_MEMORY_ERROR;
            goto done;
        }
        Put32(info, 40);
        Put32(info + 4, (unsigned long)header.width);
        Put32(info + 8, (unsigned long)header.height); /* bottom-up */
        Put16(info + 12, 1);
        Put16(info + 14, 1);
        Put32(info + 16, 0); /* BI_RGB */
        Put32(info + 20, rowSize * (unsigned long)header.height);
        Put32(info + 24, perMetre);
        Put32(info + 28, perMetre);
        Put32(info + 32, 2);
        Put32(info + 36, 0);
        memset(info + 40, 0xFF, 3); /* entry 0 white */
        info[43] = 0;
        memset(info + 44, 0, 4);    /* entry 1 black */
        SpiUnlockHandle(infoHandle);
        *pHBInfo = infoHandle;
        *pHBm = bitsHandle;
        infoHandle = bitsHandle = 0;
    }

done:
    if (tiff)
        TIFFClose(tiff);
    if (options)
        TIFFOpenOptionsFree(options);
    free(row);
    free(tiffFile);
    free(owned);
    if (infoHandle)
        SpiFreeHandle(infoHandle);
    if (bitsHandle)
        SpiFreeHandle(bitsHandle);
    return result;
}
