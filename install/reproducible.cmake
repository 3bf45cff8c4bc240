# SPDX-License-Identifier: GPL-3.0-or-later
# Read by cpack before it packs: every time stamp in the package becomes the last commit's, so two
# packs of one commit are byte for byte the same. A SOURCE_DATE_EPOCH set by the caller wins.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C "${CPACK_BRENVALE_SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
    if(status EQUAL 0 AND epoch MATCHES "^[0-9]+$")
        set(ENV{SOURCE_DATE_EPOCH} ${epoch})
    endif()
endif()
