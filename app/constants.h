// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CONSTANTS_H
#define CONSTANTS_H

// Process-wide constants shared by every translation unit. All are plain string
// literals: status codes are compared as strings with what the service sends.

#ifndef TAVREL_SERVICE_URL
#define TAVREL_SERVICE_URL "http://127.0.0.1:8765"
#endif

#define DBVERSION "14"
#define URLSERVICE TAVREL_SERVICE_URL
#define URL_RECOVERY_PASSWORD "/kvshop/PasswordRecovery/"
#define URL_SURVEY "/kvshop/Survey/"
#define URL_HELP "/kvshop/Help/"
#define URL_BUY_QUOTA "/kvshop/BuyQuota/"
#define VERSIONAPP "1.2.1"

// Key of the single-instance guard and name of the local command socket.
#define APP_GUID "5B1D07C4-3F2A-11E1-9C61-2E4A8D90B3F7"

// Service status codes.
#define CODE_ERROR_NETWORK "-1"
#define CODE_LOGIN_KO "0"
#define CODE_LOGIN_OK "1"
#define CODE_ACTION_NO_EXIST "2"
#define CODE_INSERTCATEGORIA_OK "3"
#define CODE_INSERTCATEGORIA_KO "4"
#define CODE_SYNC_FOLDER_OK "5"
#define CODE_INSERTMETADATO_OK "11"
#define CODE_INSERTMETADATO_KO "12"
#define CODE_UPLOADFILE_KO "13"
#define CODE_UPLOADFILE_OK "14"
#define CODE_CONSERVAZIONE_OK "15"
#define CODE_CONSERVAZIONE_KO "16"
#define CODE_RIPRISTINA_OK "17"
#define CODE_RIPRISTINA_KO "18"
#define CODE_SESSION_TIMEOUT "19"
#define CODE_VALIDATION_KO "20"
#define CODE_GET_VALUE_METADATI_OK "21"
#define CODE_GET_VALUE_METADATI_KO "22"
#define CODE_CORREGGI_VALUE_METADATI_OK "23"
#define CODE_CORREGGI_VALUE_METADATI_KO "24"
#define CODE_SOSTITUIZIONE_FILE_OK "25"
#define CODE_SOSTITUIZIONE_FILE_KO "26"
#define CODE_ESIBISCI_OK "27"
#define CODE_ESIBISCI_KO "28"
#define CODE_SHOW_HISTORY_OK "29"
#define CODE_SHOW_HISTORY_KO "30"
#define CODE_TO_UPDATE "31"
#define CODE_UPDATE_KO "32"
#define CODE_DELETEMETADATO_KO "33"
#define CODE_DELETEMETADATO_OK "34"
#define CODE_DELETEFOLDER_KO "35"
#define CODE_DELETEFOLDER_OK "36"
#define CODE_CHANGEPWD_KO "37"
#define CODE_CHANGEPWD_OK "38"
#define CODE_EXHIBITOR_OK "40"
#define CODE_EXHIBITOR_KO "41"
#define CODE_INSERTCATEGORIA_DENIED "42"

#endif // CONSTANTS_H
