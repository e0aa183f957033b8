// IDs of the agent window and authorization texts.
#pragma once
