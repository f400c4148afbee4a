/* What the test plug-ins record about the calls they receive; read by the
 * tests through the extra entry point SpiTestState. */
#ifndef TRAZBIT_TEST_PLUGIN_STATE_H
#define TRAZBIT_TEST_PLUGIN_STATE_H

#ifdef __cplusplus
extern "C" {
#endif

#define SPI_TEST_MAX_PROGRESS 16

typedef struct SpiTestState
{
    int isSupportedCalls;
    int pictureInfoCalls;
    int pictureCalls;
    int archiveCalls; /* GetArchiveInfo, GetFileInfo, GetFile */
    long lastLength;
    int tailIsZero;   /* the block held zeros from the length up to 2048 bytes */
    int sameBuffer;   /* GetPictureInfo and GetPicture got IsSupported's block */
    char lastFileName[260];
    int progressCount;
    int progressAnswers[SPI_TEST_MAX_PROGRESS];
} SpiTestState;

typedef SpiTestState *(*SpiTestStateFn)(void);
#define SPI_TEST_STATE_ENTRY "SpiTestStateOf"

#ifdef __cplusplus
}
#endif

#endif
