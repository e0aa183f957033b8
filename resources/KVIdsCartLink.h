// IDs of the cart transport and comm thread texts.
#pragma once
