// Everything of the AVS1-P2 elementary-stream reader in one include.
#pragma once

#include "avs/bitstream.h"
#include "avs/byte_source.h"
#include "avs/picture_splitter.h"
#include "avs/picture_state.h"
#include "avs/sequence_header.h"
#include "avs/start_code.h"
#include "avs/tables.h"
#include "avs/unit_reader.h"
#include "avs/unit_type.h"
