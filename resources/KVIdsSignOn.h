// IDs of the single sign-on texts.
#pragma once
