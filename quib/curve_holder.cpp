// Written by its helper.
