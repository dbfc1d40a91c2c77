#pragma once
// The calls of the Renren REST API, one parameter class each. Integer parameters are unset at -1.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platforms/renren/RennParam.h"

// Service types: not sent to the server, copied into the service for the caller.
inline constexpr const char* kRennServiceTypeGetAlbum = "GetAlbum";
inline constexpr const char* kRennServiceTypePutAlbum = "PutAlbum";
inline constexpr const char* kRennServiceTypeListAlbum = "ListAlbum";
inline constexpr const char* kTypeGetBlog = "GetBlog";
inline constexpr const char* kTypePutBlog = "PutBlog";
inline constexpr const char* kTypeListBlog = "ListBlog";
inline constexpr const char* kRennServiceTypePutComment = "PutComment";
inline constexpr const char* kRennServiceTypeListComment = "ListComment";
inline constexpr const char* kRennServiceTypePutFeed = "PutFeed";
inline constexpr const char* kRennServiceTypeListFeed = "ListFeed";
inline constexpr const char* kRennServiceTypePutNotificationAsUser = "PutNotificationAsUser";
inline constexpr const char* kRennServiceTypePutNotificationAsApp = "PutNotificationAsApp";
inline constexpr const char* kRennServiceTypePutInvitation = "PutInvitation";
inline constexpr const char* kRennServiceTypeGetPhoto = "GetPhoto";
inline constexpr const char* kRennServiceTypeUploadPhoto = "UploadPhoto";
inline constexpr const char* kRennServiceTypeListPhoto = "ListPhoto";
inline constexpr const char* kRennServiceTypeGetProfile = "GetProfile";
inline constexpr const char* kRennServiceTypeGetShare = "GetShare";
inline constexpr const char* kRennServiceTypePutShareUgc = "PutShareUgc";
inline constexpr const char* kRennServiceTypePutShareUrl = "PutShareUrl";
inline constexpr const char* kRennServiceTypeListShare = "ListShare";
inline constexpr const char* kRennServiceTypeListHotShare = "ListHotShare";
inline constexpr const char* kRennServiceTypeGetStatus = "GetStatus";
inline constexpr const char* kRennServiceTypePutStatus = "PutStatus";
inline constexpr const char* kRennServiceTypeListStatus = "ListStatus";
inline constexpr const char* kRennServiceTypeShareStatus = "ShareStatus";
inline constexpr const char* kRennServiceTypeListUbb = "ListUbb";
inline constexpr const char* kRennServiceTypeGetUser = "GetUser";
inline constexpr const char* kRennServiceTypeBatchUser = "BatchUser";
inline constexpr const char* kRennServiceTypeListUserFriendMutual = "ListUserFriendMutual";
inline constexpr const char* kRennServiceTypeListUserFriend = "ListUserFriend";
inline constexpr const char* kRennServiceTypeListUserFriendApp = "ListUserFriendApp";
inline constexpr const char* kRennServiceTypeListUserFriendUninstallApp = "ListUserFriendUninstallApp";
inline constexpr const char* kRennServiceTypeGetLogin = "GetLogin";
inline constexpr const char* kRennServiceTypePutLike = "PutLike";
inline constexpr const char* kRennServiceTypeRemoveLike = "RemoveLike";
inline constexpr const char* kRennServiceTypeGetUgcInfo = "GetUgcInfo";
inline constexpr const char* kRennServiceTypeGetApp = "GetApp";
inline constexpr const char* kRennServiceTypeGetLocation = "GetLocation";
inline constexpr const char* kRennServiceTypeListLocationFeed = "ListLocationFeed";
inline constexpr const char* kRennServiceTypeListPlace = "ListPlace";
inline constexpr const char* kRennServiceTypeListPlaceFeed = "ListPlaceFeed";
inline constexpr const char* kRennServiceTypeSetPhotoHead = "SetPhotoHead";
inline constexpr const char* kRennServiceTypeGetNewsCount = "GetNewsCount";
inline constexpr const char* kRennServiceTypeClearNewsCount = "ClearNewsCount";
inline constexpr const char* kRennServiceTypeListFriend = "ListFriend";

class GetAlbumParam : public RennParam {
 public:
  GetAlbumParam();
  std::string className() const override { return "GetAlbumParam"; }
  const std::optional<std::string>& albumId() const { return stringField(0); }
  void setAlbumId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& ownerId() const { return stringField(1); }
  void setOwnerId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
};

class PutAlbumParam : public RennParam {
 public:
  PutAlbumParam();
  std::string className() const override { return "PutAlbumParam"; }
  const std::optional<std::string>& location() const { return stringField(0); }
  void setLocation(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& description() const { return stringField(1); }
  void setDescription(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& name() const { return stringField(2); }
  void setName(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& accessControl() const { return stringField(3); }
  void setAccessControl(std::optional<std::string> v) { setStringField(3, std::move(v)); }
  const std::optional<std::string>& password() const { return stringField(4); }
  void setPassword(std::optional<std::string> v) { setStringField(4, std::move(v)); }
};

class ListAlbumParam : public RennParam {
 public:
  ListAlbumParam();
  std::string className() const override { return "ListAlbumParam"; }
  const std::optional<std::string>& ownerId() const { return stringField(0); }
  void setOwnerId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  long long pageSize() const { return integerField(1); }
  void setPageSize(long long v) { setIntegerField(1, v); }
  long long pageNumber() const { return integerField(2); }
  void setPageNumber(long long v) { setIntegerField(2, v); }
};

class GetBlogParam : public RennParam {
 public:
  GetBlogParam();
  std::string className() const override { return "GetBlogParam"; }
  const std::optional<std::string>& blogId() const { return stringField(0); }
  void setBlogId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& ownerId() const { return stringField(1); }
  void setOwnerId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& password() const { return stringField(2); }
  void setPassword(std::optional<std::string> v) { setStringField(2, std::move(v)); }
};

class PutBlogParam : public RennParam {
 public:
  PutBlogParam();
  std::string className() const override { return "PutBlogParam"; }
  const std::optional<std::string>& title() const { return stringField(0); }
  void setTitle(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& accessControl() const { return stringField(1); }
  void setAccessControl(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& password() const { return stringField(2); }
  void setPassword(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& content() const { return stringField(3); }
  void setContent(std::optional<std::string> v) { setStringField(3, std::move(v)); }
};

class ListBlogParam : public RennParam {
 public:
  ListBlogParam();
  std::string className() const override { return "ListBlogParam"; }
  const std::optional<std::string>& ownerId() const { return stringField(0); }
  void setOwnerId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  long long pageSize() const { return integerField(1); }
  void setPageSize(long long v) { setIntegerField(1, v); }
  long long pageNumber() const { return integerField(2); }
  void setPageNumber(long long v) { setIntegerField(2, v); }
};

class PutCommentParam : public RennParam {
 public:
  PutCommentParam();
  std::string className() const override { return "PutCommentParam"; }
  const std::optional<std::string>& entryOwnerId() const { return stringField(0); }
  void setEntryOwnerId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& entryId() const { return stringField(1); }
  void setEntryId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& commentType() const { return stringField(2); }
  void setCommentType(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& targetUserId() const { return stringField(3); }
  void setTargetUserId(std::optional<std::string> v) { setStringField(3, std::move(v)); }
  const std::optional<std::string>& content() const { return stringField(4); }
  void setContent(std::optional<std::string> v) { setStringField(4, std::move(v)); }
};

class ListCommentParam : public RennParam {
 public:
  ListCommentParam();
  std::string className() const override { return "ListCommentParam"; }
  const std::optional<std::string>& entryOwnerId() const { return stringField(0); }
  void setEntryOwnerId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& entryId() const { return stringField(1); }
  void setEntryId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& commentType() const { return stringField(2); }
  void setCommentType(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  long long pageSize() const { return integerField(3); }
  void setPageSize(long long v) { setIntegerField(3, v); }
  long long pageNumber() const { return integerField(4); }
  void setPageNumber(long long v) { setIntegerField(4, v); }
};

class PutFeedParam : public RennParam {
 public:
  PutFeedParam();
  std::string className() const override { return "PutFeedParam"; }
  const std::optional<std::string>& message() const { return stringField(0); }
  void setMessage(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& title() const { return stringField(1); }
  void setTitle(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& actionTargetUrl() const { return stringField(2); }
  void setActionTargetUrl(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& imageUrl() const { return stringField(3); }
  void setImageUrl(std::optional<std::string> v) { setStringField(3, std::move(v)); }
  const std::optional<std::string>& description() const { return stringField(4); }
  void setDescription(std::optional<std::string> v) { setStringField(4, std::move(v)); }
  const std::optional<std::string>& subtitle() const { return stringField(5); }
  void setSubtitle(std::optional<std::string> v) { setStringField(5, std::move(v)); }
  const std::optional<std::string>& actionName() const { return stringField(6); }
  void setActionName(std::optional<std::string> v) { setStringField(6, std::move(v)); }
  const std::optional<std::string>& targetUrl() const { return stringField(7); }
  void setTargetUrl(std::optional<std::string> v) { setStringField(7, std::move(v)); }
};

class ListFeedParam : public RennParam {
 public:
  ListFeedParam();
  std::string className() const override { return "ListFeedParam"; }
  const std::optional<std::string>& feedType() const { return stringField(0); }
  void setFeedType(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& userId() const { return stringField(1); }
  void setUserId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  long long pageSize() const { return integerField(2); }
  void setPageSize(long long v) { setIntegerField(2, v); }
  long long pageNumber() const { return integerField(3); }
  void setPageNumber(long long v) { setIntegerField(3, v); }
};

class PutNotificationAsUserParam : public RennParam {
 public:
  PutNotificationAsUserParam();
  std::string className() const override { return "PutNotificationAsUserParam"; }
  const std::optional<std::string>& content() const { return stringField(0); }
  void setContent(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::vector<std::string>& userIds() const { return listField(1); }
  void setUserIds(std::vector<std::string> v) { setListField(1, std::move(v)); }
};

class PutNotificationAsAppParam : public RennParam {
 public:
  PutNotificationAsAppParam();
  std::string className() const override { return "PutNotificationAsAppParam"; }
  const std::optional<std::string>& content() const { return stringField(0); }
  void setContent(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::vector<std::string>& userIds() const { return listField(1); }
  void setUserIds(std::vector<std::string> v) { setListField(1, std::move(v)); }
};

class PutInvitationParam : public RennParam {
 public:
  PutInvitationParam();
  std::string className() const override { return "PutInvitationParam"; }
  const std::optional<std::string>& invitationType() const { return stringField(0); }
  void setInvitationType(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& userId() const { return stringField(1); }
  void setUserId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& img() const { return stringField(2); }
  void setImg(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& giftName() const { return stringField(3); }
  void setGiftName(std::optional<std::string> v) { setStringField(3, std::move(v)); }
  const std::optional<std::string>& url() const { return stringField(4); }
  void setUrl(std::optional<std::string> v) { setStringField(4, std::move(v)); }
};

class GetPhotoParam : public RennParam {
 public:
  GetPhotoParam();
  std::string className() const override { return "GetPhotoParam"; }
  const std::optional<std::string>& albumId() const { return stringField(0); }
  void setAlbumId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& photoId() const { return stringField(1); }
  void setPhotoId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& ownerId() const { return stringField(2); }
  void setOwnerId(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& password() const { return stringField(3); }
  void setPassword(std::optional<std::string> v) { setStringField(3, std::move(v)); }
};

class UploadPhotoParam : public RennParam {
 public:
  UploadPhotoParam();
  std::string className() const override { return "UploadPhotoParam"; }
  const std::optional<std::string>& albumId() const { return stringField(0); }
  void setAlbumId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& description() const { return stringField(1); }
  void setDescription(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<os::Data>& file() const { return dataField(2); }
  void setFile(std::optional<os::Data> v) { setDataField(2, std::move(v)); }
};

class ListPhotoParam : public RennParam {
 public:
  ListPhotoParam();
  std::string className() const override { return "ListPhotoParam"; }
  const std::optional<std::string>& albumId() const { return stringField(0); }
  void setAlbumId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& ownerId() const { return stringField(1); }
  void setOwnerId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& password() const { return stringField(2); }
  void setPassword(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  long long pageSize() const { return integerField(3); }
  void setPageSize(long long v) { setIntegerField(3, v); }
  long long pageNumber() const { return integerField(4); }
  void setPageNumber(long long v) { setIntegerField(4, v); }
};

class GetProfileParam : public RennParam {
 public:
  GetProfileParam();
  std::string className() const override { return "GetProfileParam"; }
  const std::optional<std::string>& userId() const { return stringField(0); }
  void setUserId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
};

class GetShareParam : public RennParam {
 public:
  GetShareParam();
  std::string className() const override { return "GetShareParam"; }
  const std::optional<std::string>& shareId() const { return stringField(0); }
  void setShareId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& ownerId() const { return stringField(1); }
  void setOwnerId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
};

class PutShareUgcParam : public RennParam {
 public:
  PutShareUgcParam();
  std::string className() const override { return "PutShareUgcParam"; }
  const std::optional<std::string>& ugcOwnerId() const { return stringField(0); }
  void setUgcOwnerId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& comment() const { return stringField(1); }
  void setComment(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& ugcId() const { return stringField(2); }
  void setUgcId(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& ugcType() const { return stringField(3); }
  void setUgcType(std::optional<std::string> v) { setStringField(3, std::move(v)); }
};

class PutShareUrlParam : public RennParam {
 public:
  PutShareUrlParam();
  std::string className() const override { return "PutShareUrlParam"; }
  const std::optional<std::string>& comment() const { return stringField(0); }
  void setComment(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& url() const { return stringField(1); }
  void setUrl(std::optional<std::string> v) { setStringField(1, std::move(v)); }
};

class ListShareParam : public RennParam {
 public:
  ListShareParam();
  std::string className() const override { return "ListShareParam"; }
  const std::optional<std::string>& ownerId() const { return stringField(0); }
  void setOwnerId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  long long pageSize() const { return integerField(1); }
  void setPageSize(long long v) { setIntegerField(1, v); }
  long long pageNumber() const { return integerField(2); }
  void setPageNumber(long long v) { setIntegerField(2, v); }
};

class ListHotShareParam : public RennParam {
 public:
  ListHotShareParam();
  std::string className() const override { return "ListHotShareParam"; }
  const std::optional<std::string>& shareType() const { return stringField(0); }
  void setShareType(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  long long pageSize() const { return integerField(1); }
  void setPageSize(long long v) { setIntegerField(1, v); }
  long long pageNumber() const { return integerField(2); }
  void setPageNumber(long long v) { setIntegerField(2, v); }
};

class GetStatusParam : public RennParam {
 public:
  GetStatusParam();
  std::string className() const override { return "GetStatusParam"; }
  const std::optional<std::string>& statusId() const { return stringField(0); }
  void setStatusId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& ownerId() const { return stringField(1); }
  void setOwnerId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
};

class PutStatusParam : public RennParam {
 public:
  PutStatusParam();
  std::string className() const override { return "PutStatusParam"; }
  const std::optional<std::string>& content() const { return stringField(0); }
  void setContent(std::optional<std::string> v) { setStringField(0, std::move(v)); }
};

class ListStatusParam : public RennParam {
 public:
  ListStatusParam();
  std::string className() const override { return "ListStatusParam"; }
  const std::optional<std::string>& ownerId() const { return stringField(0); }
  void setOwnerId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  long long pageSize() const { return integerField(1); }
  void setPageSize(long long v) { setIntegerField(1, v); }
  long long pageNumber() const { return integerField(2); }
  void setPageNumber(long long v) { setIntegerField(2, v); }
};

class ShareStatusParam : public RennParam {
 public:
  ShareStatusParam();
  std::string className() const override { return "ShareStatusParam"; }
  const std::optional<std::string>& content() const { return stringField(0); }
  void setContent(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& statusId() const { return stringField(1); }
  void setStatusId(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& ownerId() const { return stringField(2); }
  void setOwnerId(std::optional<std::string> v) { setStringField(2, std::move(v)); }
};

class ListUbbParam : public RennParam {
 public:
  ListUbbParam();
  std::string className() const override { return "ListUbbParam"; }
};

class GetUserParam : public RennParam {
 public:
  GetUserParam();
  std::string className() const override { return "GetUserParam"; }
  const std::optional<std::string>& userId() const { return stringField(0); }
  void setUserId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
};

class BatchUserParam : public RennParam {
 public:
  BatchUserParam();
  std::string className() const override { return "BatchUserParam"; }
  const std::vector<std::string>& userIds() const { return listField(0); }
  void setUserIds(std::vector<std::string> v) { setListField(0, std::move(v)); }
};

class ListUserFriendMutualParam : public RennParam {
 public:
  ListUserFriendMutualParam();
  std::string className() const override { return "ListUserFriendMutualParam"; }
  const std::optional<std::string>& userId() const { return stringField(0); }
  void setUserId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
};

class ListUserFriendParam : public RennParam {
 public:
  ListUserFriendParam();
  std::string className() const override { return "ListUserFriendParam"; }
  const std::optional<std::string>& userId() const { return stringField(0); }
  void setUserId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  long long pageSize() const { return integerField(1); }
  void setPageSize(long long v) { setIntegerField(1, v); }
  long long pageNumber() const { return integerField(2); }
  void setPageNumber(long long v) { setIntegerField(2, v); }
};

class ListUserFriendAppParam : public RennParam {
 public:
  ListUserFriendAppParam();
  std::string className() const override { return "ListUserFriendAppParam"; }
};

class ListUserFriendUninstallAppParam : public RennParam {
 public:
  ListUserFriendUninstallAppParam();
  std::string className() const override { return "ListUserFriendUninstallAppParam"; }
};

class GetUserLoginParam : public RennParam {
 public:
  GetUserLoginParam();
  std::string className() const override { return "GetUserLoginParam"; }
};

class PutLikeParam : public RennParam {
 public:
  PutLikeParam();
  std::string className() const override { return "PutLikeParam"; }
  const std::optional<std::string>& ugcOwnerId() const { return stringField(0); }
  void setUgcOwnerId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& likeUGCType() const { return stringField(1); }
  void setLikeUGCType(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& ugcId() const { return stringField(2); }
  void setUgcId(std::optional<std::string> v) { setStringField(2, std::move(v)); }
};

class RemoveLikeParam : public RennParam {
 public:
  RemoveLikeParam();
  std::string className() const override { return "RemoveLikeParam"; }
  const std::optional<std::string>& ugcOwnerId() const { return stringField(0); }
  void setUgcOwnerId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& likeUGCType() const { return stringField(1); }
  void setLikeUGCType(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& ugcId() const { return stringField(2); }
  void setUgcId(std::optional<std::string> v) { setStringField(2, std::move(v)); }
};

class GetUgcInfoParam : public RennParam {
 public:
  GetUgcInfoParam();
  std::string className() const override { return "GetUgcInfoParam"; }
  const std::optional<std::string>& limit() const { return stringField(0); }
  void setLimit(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& withLikeUsers() const { return stringField(1); }
  void setWithLikeUsers(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& likeUGCType() const { return stringField(2); }
  void setLikeUGCType(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& ugcId() const { return stringField(3); }
  void setUgcId(std::optional<std::string> v) { setStringField(3, std::move(v)); }
};

class GetAppParam : public RennParam {
 public:
  GetAppParam();
  std::string className() const override { return "GetAppParam"; }
};

class GetLocationParam : public RennParam {
 public:
  GetLocationParam();
  std::string className() const override { return "GetLocationParam"; }
  const std::optional<std::string>& deflection() const { return stringField(0); }
  void setDeflection(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  const std::optional<std::string>& longitude() const { return stringField(1); }
  void setLongitude(std::optional<std::string> v) { setStringField(1, std::move(v)); }
  const std::optional<std::string>& latitude() const { return stringField(2); }
  void setLatitude(std::optional<std::string> v) { setStringField(2, std::move(v)); }
};

class ListLocationFeedParam : public RennParam {
 public:
  ListLocationFeedParam();
  std::string className() const override { return "ListLocationFeedParam"; }
  long long pageSize() const { return integerField(0); }
  void setPageSize(long long v) { setIntegerField(0, v); }
  long long pageNumber() const { return integerField(1); }
  void setPageNumber(long long v) { setIntegerField(1, v); }
  const std::optional<std::string>& locationFeedType() const { return stringField(2); }
  void setLocationFeedType(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& radius() const { return stringField(3); }
  void setRadius(std::optional<std::string> v) { setStringField(3, std::move(v)); }
  const std::optional<std::string>& longitude() const { return stringField(4); }
  void setLongitude(std::optional<std::string> v) { setStringField(4, std::move(v)); }
  const std::optional<std::string>& latitude() const { return stringField(5); }
  void setLatitude(std::optional<std::string> v) { setStringField(5, std::move(v)); }
};

class ListPlaceParam : public RennParam {
 public:
  ListPlaceParam();
  std::string className() const override { return "ListPlaceParam"; }
  long long pageSize() const { return integerField(0); }
  void setPageSize(long long v) { setIntegerField(0, v); }
  long long pageNumber() const { return integerField(1); }
  void setPageNumber(long long v) { setIntegerField(1, v); }
  const std::optional<std::string>& placeName() const { return stringField(2); }
  void setPlaceName(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& radius() const { return stringField(3); }
  void setRadius(std::optional<std::string> v) { setStringField(3, std::move(v)); }
  const std::optional<std::string>& longitude() const { return stringField(4); }
  void setLongitude(std::optional<std::string> v) { setStringField(4, std::move(v)); }
  const std::optional<std::string>& latitude() const { return stringField(5); }
  void setLatitude(std::optional<std::string> v) { setStringField(5, std::move(v)); }
  const std::optional<std::string>& deflection() const { return stringField(6); }
  void setDeflection(std::optional<std::string> v) { setStringField(6, std::move(v)); }
};

class ListPlaceFeedParam : public RennParam {
 public:
  ListPlaceFeedParam();
  std::string className() const override { return "ListPlaceFeedParam"; }
  long long pageSize() const { return integerField(0); }
  void setPageSize(long long v) { setIntegerField(0, v); }
  long long pageNumber() const { return integerField(1); }
  void setPageNumber(long long v) { setIntegerField(1, v); }
  const std::optional<std::string>& placeId() const { return stringField(2); }
  void setPlaceId(std::optional<std::string> v) { setStringField(2, std::move(v)); }
  const std::optional<std::string>& locationFeedType() const { return stringField(3); }
  void setLocationFeedType(std::optional<std::string> v) { setStringField(3, std::move(v)); }
};

class SetPhotoHeadParam : public RennParam {
 public:
  SetPhotoHeadParam();
  std::string className() const override { return "SetPhotoHeadParam"; }
  const std::optional<std::string>& photoId() const { return stringField(0); }
  void setPhotoId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
};

class GetNewsCountParam : public RennParam {
 public:
  GetNewsCountParam();
  std::string className() const override { return "GetNewsCountParam"; }
  const std::optional<std::string>& newTypes() const { return stringField(0); }
  void setNewTypes(std::optional<std::string> v) { setStringField(0, std::move(v)); }
};

class ClearNewsCountParam : public RennParam {
 public:
  ClearNewsCountParam();
  std::string className() const override { return "ClearNewsCountParam"; }
  const std::optional<std::string>& newType() const { return stringField(0); }
  void setNewType(std::optional<std::string> v) { setStringField(0, std::move(v)); }
};

class ListFriendParam : public RennParam {
 public:
  ListFriendParam();
  std::string className() const override { return "ListFriendParam"; }
  const std::optional<std::string>& userId() const { return stringField(0); }
  void setUserId(std::optional<std::string> v) { setStringField(0, std::move(v)); }
  long long pageSize() const { return integerField(1); }
  void setPageSize(long long v) { setIntegerField(1, v); }
  long long pageNumber() const { return integerField(2); }
  void setPageNumber(long long v) { setIntegerField(2, v); }
};
