/*
 * Morvane: the model-resource library. It knows the device models of the line-up and hands
 * out their capability records, maps model names to friendly names, names the directory of
 * the model catalogue file and parses a device's system information text.
 *
 * Every function has C linkage, takes 8-bit NUL-terminated strings, and returns a 32-bit
 * signed result: 0 for success, a negative MORVANE_E_* value for a failure, and the one
 * positive outcome MORVANE_S_MAPPED described at Morvane_GetParamForServerByFriendlyName.
 * Output records and buffers are written only when the result is 0 or MORVANE_S_MAPPED.
 *
 * Threads. There is no initialisation or release call. Every function may be called at any
 * time from any thread, also concurrently. The model data file is read once, on the first
 * call that needs it, and kept for the life of the process; a failed read is retried on the
 * next call.
 *
 * The model data file. The line-up lives in "morvane-models.ini", shipped beside the library
 * (libMorvane.so / Morvane.dll). It is searched, first found wins:
 *   1. the file named by the environment variable MORVANE_MODELS_FILE (a full file path);
 *   2. "morvane-models.ini" in the directory of the loaded library;
 *   3. the source tree's Morvane/data/morvane-models.ini (a path fixed at build time, so that
 *      a library used from the build tree finds its data).
 * Its format is described in Morvane/data/morvane-models.ini itself. The device simulator
 * reads the same file.
 */
#ifndef MORVANE_H
#define MORVANE_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(MORVANE_BUILDING)
#define MORVANE_EXTERN __declspec(dllexport)
#else
#define MORVANE_EXTERN __declspec(dllimport)
#endif
#define MORVANE_CALL __stdcall
#else
#if defined(MORVANE_BUILDING)
#define MORVANE_EXTERN __attribute__((visibility("default")))
#else
#define MORVANE_EXTERN
#endif
#define MORVANE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
#define MORVANE_OK 0
/* The friendly name is not one of the line-up but maps to one: the record of that one was
 * filled (see Morvane_GetParamForServerByFriendlyName). */
#define MORVANE_S_MAPPED 0x60400
/* The name is not known (also an empty name, or a model name shorter than 6 characters). */
#define MORVANE_E_UNKNOWN (-1)
/* A NULL argument. */
#define MORVANE_E_ARG (-2)
/* The model data file was not found, could not be read, or does not parse. */
#define MORVANE_E_DATA (-3)
/* The result does not fit its buffer (a directory path of 260 bytes or more). */
#define MORVANE_E_SPACE (-4)
/* The catalogue directory could not be created. */
#define MORVANE_E_DIR (-5)
/* The system information text is malformed: no model line, a value longer than its
 * field, a count that is not a decimal number from 0 to 255, a codec outside 0..65535. */
#define MORVANE_E_FORMAT (-6)
/* The system information text is 1024 bytes or longer (no NUL within 1024 bytes). */
#define MORVANE_E_TOOLONG (-7)

/* The longest directory Morvane_GetDataFilePath writes, with its NUL. */
#define MORVANE_PATH_MAX 260
/* The most that Morvane_GetMappingFriendlyName writes, with the NUL. */
#define MORVANE_FRIENDLY_NAME_MAX 24
/* The longest system information text accepted, without the NUL. */
#define MORVANE_SYSINFO_TEXT_MAX 1023

/*
 * The capability record of one model (496 bytes, natural alignment, little-endian).
 * Integers are 32-bit signed; texts are NUL-terminated in fixed arrays, an empty text means
 * the model has no such path.
 */
typedef struct ServerParam {
  char ServerName[40];  /* the model's server type, e.g. "KM3111" */
  int32_t CamNum;       /* video channels */
  int32_t ComNum;       /* serial ports */
  int32_t DiNum;        /* digital inputs */
  int32_t DoNum;        /* digital outputs */
  int32_t VideoCodec;   /* video codec code */
  int32_t AudioCodec;   /* audio codec code */
  char VideoUrl[40];
  char RxUrl[40];
  char TxUrl[40];
  char QuadUrl[40];
  char PtzUrl[40];
  char RecallUrl[40];
  char PresetUrl[40];
  char GetDiUrl[40];
  char SetDoUrl[40];
  char UartUrl[40];
  int32_t MDWinNum;     /* motion detection windows */
  char DefaultVSize[12];
  int32_t DefaultQuality;
  int32_t DefaultProtocol;
  int32_t DefaultMediaType;
  int32_t Flag;         /* bit 0: the model takes absolute PTZ coordinates */
} ServerParam;

/*
 * The result of Morvane_ParseSysInfo (11208 bytes). The library reads ModelName, VideoUrl,
 * CamNum, DiNum, DoNum, VideoCodec and AudioCodec; every other member is Morvane's own.
 */
#ifndef KAVREL_SYSINFODATA_DEFINED
/* Kavrel's public header describes the same bytes; whichever comes first defines the record
 * for both, and both check its layout. */
#define KAVREL_SYSINFODATA_DEFINED
typedef struct SysInfoData {
  char ModelName[64];     /* "model": the device's model name, e.g. "KM5120-V2.0.1" */
  char HostName[64];      /* "hostname" */
  char MacAddress[32];    /* "mac" */
  char SerialNumber[32];  /* "serial" */
  char RawText[1024];     /* the whole text as given, NUL-terminated */
  char Reserved1[9626];
  char VideoUrl[40];      /* "videourl", offset 10842 */
  char AudioUrl[40];      /* "audiourl" */
  char Reserved2[254];
  int32_t CamNum;         /* "cameras", offset 11176 */
  int32_t ComNum;         /* "comports" */
  int32_t DiNum;          /* "inputs", offset 11184 */
  int32_t DoNum;          /* "outputs" */
  int32_t VideoCodec;     /* "videocodec" */
  int32_t AudioCodec;     /* "audiocodec" */
  int32_t MDWinNum;       /* "motionwindows" */
  int32_t Reserved3;
} SysInfoData;
#endif

/*
 * Morvane_GetParamForServer: the record of a model, by its model name.
 * model_name: the model name a device reports, e.g. "KM3111-V1.0.2"; only its first 6
 *   characters are compared (case-sensitively) with the server types of the line-up, so
 *   every version of a known model resolves. A name shorter than 6 characters is unknown.
 * param: the record to fill; it is cleared and filled only on success.
 * Results: 0 filled; MORVANE_E_UNKNOWN for a model that is not in the line-up, also for a
 *   model that the line-up lists only as mapped onto another (such as "KM5120");
 *   MORVANE_E_ARG for a NULL argument; MORVANE_E_DATA when the model data is missing.
 */
MORVANE_EXTERN int32_t MORVANE_CALL Morvane_GetParamForServer(const char *model_name,
                                                              ServerParam *param);

/*
 * Morvane_GetParamForServerByFriendlyName: the record of a model, by its friendly name
 * (its server type, such as "KM3111" or the literal "RQ48x3"; the whole name is compared,
 * case-sensitively).
 * friendly_name: the name. param: the record to fill.
 * Results: 0 the record of that model; MORVANE_S_MAPPED (0x60400) when the name is a model
 *   that the line-up lists only as mapped onto another friendly name ("KM5120" onto
 *   "KM4130"): the record of the friendly name it maps to is filled, unchanged (its
 *   ServerName is the mapped friendly name), so that its paths can be used while the
 *   caller knows that the record is not the model's own; MORVANE_E_UNKNOWN for any other
 *   name; MORVANE_E_ARG; MORVANE_E_DATA.
 */
MORVANE_EXTERN int32_t MORVANE_CALL Morvane_GetParamForServerByFriendlyName(
    const char *friendly_name, ServerParam *param);

/*
 * Morvane_GetMappingFriendlyName: the friendly name under which a model is known.
 * model_name: a model name (first 6 characters compared, as in Morvane_GetParamForServer)
 *   or a friendly name (whole name compared).
 * friendly_name: the output buffer; it must hold MORVANE_FRIENDLY_NAME_MAX (24) bytes.
 *   Friendly names are at most 23 characters, so a 24-byte buffer always suffices.
 * Results: 0 and the friendly name written: the server type itself for a model of the
 *   line-up, the mapped name for a mapped model ("KM5120..." gives "KM4130");
 *   MORVANE_E_UNKNOWN (nothing written) for any other name; MORVANE_E_ARG; MORVANE_E_DATA.
 */
MORVANE_EXTERN int32_t MORVANE_CALL Morvane_GetMappingFriendlyName(const char *model_name,
                                                                   char *friendly_name);

/*
 * Morvane_GetDataFilePath: the directory that holds the model catalogue file "Data.xml".
 * path: output buffer of MORVANE_PATH_MAX (260) bytes.
 * The directory is the value of the environment variable KAVREL_DATA_DIR when it is set and
 * not empty, else the user's data directory: on Linux $XDG_DATA_HOME/Kavrel (when
 * XDG_DATA_HOME is an absolute path) or $HOME/.local/share/Kavrel; on Windows
 * %LOCALAPPDATA%\Kavrel. The directory (and its missing parents) is created.
 * Results: 0 and the directory written, always ending with a path separator ('/' on Linux,
 *   '\' on Windows unless KAVREL_DATA_DIR already ends with '/'); MORVANE_E_ARG;
 *   MORVANE_E_SPACE when the path with its separator and NUL needs more than 260 bytes;
 *   MORVANE_E_DIR when it cannot be created or is not a directory (no home directory
 *   either). Nothing is written on failure.
 */
MORVANE_EXTERN int32_t MORVANE_CALL Morvane_GetDataFilePath(char *path);

/*
 * Morvane_ParseSysInfo: parses the body of a device's "/cgi-bin/sysinfo.cgi".
 * text: the body, NUL-terminated, at most 1023 bytes. Its format (written by the devices):
 *   lines of "key=value", ended by CR LF or LF; keys are compared case-insensitively, blanks
 *   around key and value are dropped, unknown keys and lines without '=' are ignored, a
 *   repeated key keeps its last value. Keys and their members:
 *     model          ModelName (required, 1 to 63 characters)
 *     hostname       HostName (up to 63)         mac        MacAddress (up to 31)
 *     serial         SerialNumber (up to 31)
 *     videourl       VideoUrl (up to 39)         audiourl   AudioUrl (up to 39)
 *     cameras        CamNum                      comports   ComNum
 *     inputs         DiNum                       outputs    DoNum
 *     motionwindows  MDWinNum                    (counts: decimal, 0 to 255)
 *     videocodec     VideoCodec                  audiocodec AudioCodec (decimal, 0 to 65535)
 *   An absent count or codec is 0, an absent text empty.
 * info: the record to fill; cleared first, written only on success.
 * Results: 0 filled; MORVANE_E_ARG; MORVANE_E_TOOLONG; MORVANE_E_FORMAT.
 */
MORVANE_EXTERN int32_t MORVANE_CALL Morvane_ParseSysInfo(const char *text, SysInfoData *info);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layouts that other libraries rely on. */
#ifdef __cplusplus
#define MORVANE_STATIC_ASSERT static_assert
#else
#define MORVANE_STATIC_ASSERT _Static_assert
#endif
MORVANE_STATIC_ASSERT(sizeof(ServerParam) == 496, "ServerParam is 496 bytes");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, CamNum) == 40, "CamNum");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, ComNum) == 44, "ComNum");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, DiNum) == 48, "DiNum");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, DoNum) == 52, "DoNum");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, VideoCodec) == 56, "VideoCodec");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, AudioCodec) == 60, "AudioCodec");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, VideoUrl) == 64, "VideoUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, RxUrl) == 104, "RxUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, TxUrl) == 144, "TxUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, QuadUrl) == 184, "QuadUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, PtzUrl) == 224, "PtzUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, RecallUrl) == 264, "RecallUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, PresetUrl) == 304, "PresetUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, GetDiUrl) == 344, "GetDiUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, SetDoUrl) == 384, "SetDoUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, UartUrl) == 424, "UartUrl");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, MDWinNum) == 464, "MDWinNum");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, DefaultVSize) == 468, "DefaultVSize");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, DefaultQuality) == 480, "DefaultQuality");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, DefaultProtocol) == 484, "DefaultProtocol");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, DefaultMediaType) == 488, "DefaultMediaType");
MORVANE_STATIC_ASSERT(offsetof(ServerParam, Flag) == 492, "Flag");
MORVANE_STATIC_ASSERT(sizeof(SysInfoData) == 11208, "SysInfoData is 11208 bytes");
MORVANE_STATIC_ASSERT(offsetof(SysInfoData, ModelName) == 0, "ModelName");
MORVANE_STATIC_ASSERT(offsetof(SysInfoData, VideoUrl) == 10842, "VideoUrl");
MORVANE_STATIC_ASSERT(offsetof(SysInfoData, CamNum) == 11176, "CamNum");
MORVANE_STATIC_ASSERT(offsetof(SysInfoData, DiNum) == 11184, "DiNum");
MORVANE_STATIC_ASSERT(offsetof(SysInfoData, DoNum) == 11188, "DoNum");
MORVANE_STATIC_ASSERT(offsetof(SysInfoData, VideoCodec) == 11192, "VideoCodec");
MORVANE_STATIC_ASSERT(offsetof(SysInfoData, AudioCodec) == 11196, "AudioCodec");

#endif /* MORVANE_H */
